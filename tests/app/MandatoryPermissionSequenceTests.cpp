// The order in which the setup flow asks for the mandatory permissions, and what each row shows.
#include "app/MandatoryPermissionSequence.hpp"

#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

using Permission = MandatoryPermissionSequence::Permission;
using RowState = MandatoryPermissionSequence::RowState;
constexpr Permission screen = Permission::screenCapture;
constexpr Permission input = Permission::accessibility;
constexpr Permission network = Permission::localNetwork;

TEST(MandatoryPermissionSequenceTest, AsksInOrderOneAtATimeAndNeverTwice) {
    struct Case {
        std::string name;
        std::set<Permission> requested;
        std::optional<Permission> inProgress;
        std::set<Permission> granted;
        std::optional<Permission> expected;
    };
    const std::vector<Case> cases{
        {"nothing granted, nothing asked", {}, {}, {}, screen},
        {"a request runs", {screen}, screen, {}, std::nullopt},
        {"the refused first one blocks the rest", {screen}, {}, {}, std::nullopt},
        {"the first granted later", {screen}, {}, {screen}, input},
        {"granted out of order: the first missing one", {}, {}, {screen, network}, input},
        {"only Local Network missing", {screen, input}, {}, {screen, input}, network},
        {"everything granted", {}, {}, {screen, input, network}, std::nullopt},
        {"a later permission asked before, an earlier one lost", {input}, {}, {}, screen},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        MandatoryPermissionSequence sequence{testCase.requested, testCase.inProgress};
        const auto before = sequence;
        EXPECT_EQ(sequence.nextPermissionToRequest(testCase.granted), testCase.expected);
        if (testCase.expected) {
            auto requested = testCase.requested;
            requested.insert(*testCase.expected);
            EXPECT_EQ(sequence.requested, requested);
            EXPECT_EQ(sequence.requestInProgress, testCase.expected);
        } else {
            EXPECT_EQ(sequence, before) << "a call that asks for nothing changes nothing";
        }
    }
}

TEST(MandatoryPermissionSequenceTest, RowStatesFollowTheCurrentStep) {
    struct Case {
        std::string name;
        std::set<Permission> requested;
        std::optional<Permission> inProgress;
        std::set<Permission> granted;
        bool localNetworkIssue;
        std::vector<RowState> expected;  // screen, accessibility, Local Network
    };
    using enum MandatoryPermissionSequence::RowState;
    const std::vector<Case> cases{
        {"fresh", {}, {}, {}, false, {upcoming, upcoming, upcoming}},
        {"screen being asked", {screen}, screen, {}, false, {requesting, upcoming, upcoming}},
        {"screen refused", {screen}, {}, {}, false, {needsSettings, upcoming, upcoming}},
        {"screen granted, accessibility refused",
         {screen, input},
         {},
         {screen},
         false,
         {granted, needsSettings, upcoming}},
        {"granted after a missing one shows granted",
         {},
         {},
         {network},
         false,
         {upcoming, upcoming, granted}},
        {"Local Network asked, answer pending",
         {screen, input, network},
         {},
         {screen, input},
         false,
         {granted, granted, requesting}},
        {"Local Network refused by the probe",
         {screen, input, network},
         {},
         {screen, input},
         true,
         {granted, granted, needsSettings}},
        {"Local Network not yet asked, an issue reported",
         {screen, input},
         {},
         {screen, input},
         true,
         {granted, granted, upcoming}},
        {"everything granted",
         {screen, input, network},
         {},
         {screen, input, network},
         true,
         {granted, granted, granted}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const MandatoryPermissionSequence sequence{testCase.requested, testCase.inProgress};
        std::vector<RowState> rows;
        for (Permission permission : MandatoryPermissionSequence::allPermissions) {
            rows.push_back(sequence.rowState(permission, testCase.granted, testCase.localNetworkIssue));
        }
        EXPECT_EQ(rows, testCase.expected);
    }
}

TEST(MandatoryPermissionSequenceTest, AWalkThroughTheFlow) {
    MandatoryPermissionSequence sequence;
    std::set<Permission> granted;
    ASSERT_EQ(sequence.nextPermissionToRequest(granted), screen);
    EXPECT_EQ(sequence.nextPermissionToRequest(granted), std::nullopt) << "one request at a time";
    sequence.requestInProgress.reset();  // the prompt was refused
    EXPECT_EQ(sequence.nextPermissionToRequest(granted), std::nullopt);
    granted.insert(screen);  // granted in the settings later
    ASSERT_EQ(sequence.nextPermissionToRequest(granted), input);
    sequence.requestInProgress.reset();
    granted.insert(input);
    ASSERT_EQ(sequence.nextPermissionToRequest(granted), network);
    sequence.requestInProgress.reset();
    granted.insert(network);
    EXPECT_EQ(sequence.nextPermissionToRequest(granted), std::nullopt);
    EXPECT_EQ(sequence.requested, (std::set<Permission>{screen, input, network}));
}

}  // namespace
}  // namespace quillbridge
