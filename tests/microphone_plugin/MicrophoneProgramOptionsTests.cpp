#include <gtest/gtest.h>

#include "microphone_plugin/MicrophoneProgramOptions.hpp"

namespace quillbridge {
namespace {

std::expected<MicrophoneProgramOptions, std::string> parse(std::vector<std::string_view> arguments) {
    return MicrophoneProgramOptions::parse(arguments);
}

TEST(MicrophoneProgramOptionsTests, ForegroundAndAShortLeaseForTests) {
    auto defaults = parse({});
    ASSERT_TRUE(defaults);
    EXPECT_FALSE(defaults->foreground);
    EXPECT_EQ(defaults->leaseDuration, std::chrono::seconds(15));
    auto test = parse({"--foreground", "--lease-milliseconds", "2000"});
    ASSERT_TRUE(test);
    EXPECT_TRUE(test->foreground);
    EXPECT_EQ(test->leaseDuration, std::chrono::milliseconds(2000));
}

TEST(MicrophoneProgramOptionsTests, BadCommandLinesAreRefused) {
    for (const auto& arguments : std::vector<std::vector<std::string_view>>{{"--lease-milliseconds"},
                                                                            {"--lease-milliseconds", "99"},
                                                                            {"--lease-milliseconds", "15001"},
                                                                            {"--lease-milliseconds", "2s"},
                                                                            {"--background"}}) {
        EXPECT_FALSE(parse(arguments)) << arguments.front();
    }
}

}  // namespace
}  // namespace quillbridge
