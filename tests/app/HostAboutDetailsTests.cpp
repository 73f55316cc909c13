#include "app/HostAboutDetails.hpp"

#include <algorithm>

#include <gtest/gtest.h>

#include "app/BuildInfo.hpp"

namespace quillbridge {
namespace {

TEST(HostAboutDetailsTest, VersionTextWithMissingValuesReplaced) {
    EXPECT_EQ(HostAboutDetails::versionText("1.2", "45"), "1.2 (45)");
    EXPECT_EQ(HostAboutDetails::versionText(std::nullopt, "45"), "Unknown (45)");
    EXPECT_EQ(HostAboutDetails::versionText("1.2", std::nullopt), "1.2 (0)");
    EXPECT_EQ(HostAboutDetails::currentVersionText(),
              HostAboutDetails::versionText(BuildInfo::shortVersion(), BuildInfo::buildNumber()));
    EXPECT_TRUE(BuildInfo::shortVersion().has_value()) << "the build records the project's version";
}

TEST(HostAboutDetailsTest, AcknowledgesEveryLinkedLibraryWithItsLicenceText) {
    const auto acknowledgements = HostAboutDetails::acknowledgements();
    for (const char* library : {"Qt 6", "FFmpeg libavcodec", "x264", "x265", "fdk-aac", "ngtcp2", "GnuTLS",
                                "libsodium (ISC License)", "Avahi", "PipeWire", "libyuv", "nlohmann-json",
                                "libplist", "xkbcommon"}) {
        EXPECT_TRUE(std::ranges::any_of(acknowledgements, [&](const auto& link) {
            return link.label.starts_with(library);
        })) << library;
    }
    for (const auto& link : acknowledgements) {
        EXPECT_TRUE(link.destination.starts_with("file:///usr/share/doc/")) << link.label;
        EXPECT_TRUE(link.destination.ends_with("/copyright")) << link.label;
    }
}

}  // namespace
}  // namespace quillbridge
