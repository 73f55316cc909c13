#include <gtest/gtest.h>

#include <string>

#include "capture/MandatoryPermissionIssue.hpp"
#include "capture/SleepDelayRelease.hpp"

namespace quillbridge {
namespace {

TEST(MandatoryPermissionIssueTest, RawValuesRoundTripInDeclarationOrder) {
    const char* expected[] = {"screenAndAudioCapture", "localNetwork", "syntheticInput"};
    for (std::size_t index = 0; index < allMandatoryPermissionIssues.size(); ++index) {
        MandatoryPermissionIssue issue = allMandatoryPermissionIssues[index];
        EXPECT_EQ(rawValue(issue), expected[index]);
        EXPECT_EQ(mandatoryPermissionIssueFromRawValue(expected[index]), issue);
    }
    for (const char* other : {"", "ScreenAndAudioCapture", "localNetwork ", "accessibility"}) {
        EXPECT_EQ(mandatoryPermissionIssueFromRawValue(other), std::nullopt) << other;
    }
}

TEST(MandatoryPermissionIssueTest, AlertTexts) {
    EXPECT_EQ(mandatoryPermissionIssueTitle(MandatoryPermissionIssue::screenAndAudioCapture),
              "Screen & System Audio Permission Required");
    EXPECT_EQ(mandatoryPermissionIssueTitle(MandatoryPermissionIssue::localNetwork),
              "Local Network Permission Required");
    EXPECT_EQ(mandatoryPermissionIssueTitle(MandatoryPermissionIssue::syntheticInput),
              "Accessibility Permission Required");
    // The apostrophe is the typographic right single quotation mark.
    EXPECT_EQ(
        mandatoryPermissionIssueMessage(MandatoryPermissionIssue::screenAndAudioCapture),
        "Screen & System Audio Recording access is required to stream your Mac\xE2\x80\x99s display and "
        "audio. Allow Quillbridge Host in System Settings to continue.");
    EXPECT_EQ(
        mandatoryPermissionIssueMessage(MandatoryPermissionIssue::localNetwork),
        "Quillbridge Host needs Local Network access so your Vision Pro can find and connect to this Mac.");
    EXPECT_EQ(
        mandatoryPermissionIssueMessage(MandatoryPermissionIssue::syntheticInput),
        "Accessibility access is required so your Vision Pro can control this Mac. Allow Quillbridge Host "
        "in System Settings to continue.");
}

TEST(SleepDelayReleaseTest, ReleasesExactlyOnceWhicheverWayItEnds) {
    int releases = 0;
    {
        SleepDelayRelease token([&] { ++releases; });
        EXPECT_TRUE(token.isPending());
        token.release();
        token.release();
        EXPECT_FALSE(token.isPending());
    }
    EXPECT_EQ(releases, 1);

    {
        SleepDelayRelease token([&] { ++releases; });
        SleepDelayRelease moved = std::move(token);
        SleepDelayRelease assigned;
        assigned = std::move(moved);
        EXPECT_EQ(releases, 1);
    }
    EXPECT_EQ(releases, 2);

    {
        SleepDelayRelease first([&] { ++releases; });
        SleepDelayRelease second([&] { releases += 10; });
        first = std::move(second);  // The replaced token releases at once.
        EXPECT_EQ(releases, 3);
    }
    EXPECT_EQ(releases, 13);
    EXPECT_FALSE(SleepDelayRelease().isPending());
}

}  // namespace
}  // namespace quillbridge
