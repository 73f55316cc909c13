#include "platform/linux/dbus/HostDisplayNameReader.hpp"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

TEST(HostDisplayNameReaderTest, ReadsPrettyHostnameFromMachineInfo) {
    struct Case {
        std::string text;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases{
        {"PRETTY_HOSTNAME=Studio\n", "Studio"},
        {"CHASSIS=laptop\nPRETTY_HOSTNAME=\"Ada's Desk\"\nDEPLOYMENT=x\n", "Ada's Desk"},
        {"PRETTY_HOSTNAME='Quoted Name'", "Quoted Name"},
        {"PRETTY_HOSTNAME=\"Say \\\"hi\\\"\"\n", "Say \"hi\""},
        {"PRETTY_HOSTNAME=First\nPRETTY_HOSTNAME=Second\n", "Second"},
        {"  PRETTY_HOSTNAME=Indented  \r\n", "Indented"},
        {"ICON_NAME=computer\n", std::nullopt},
        {"", std::nullopt},
        {"PRETTY_HOSTNAME=\n", ""},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(HostDisplayNameReader::prettyHostnameFromMachineInfo(testCase.text), testCase.expected)
            << testCase.text;
    }
}

TEST(HostDisplayNameReaderTest, FallsBackFromMachineInfoToTheHostName) {
    // Run without hostnamed on the bus (tests use private buses or none), so the file and then the host name
    // decide.
    const std::string path = ::testing::TempDir() + "machine-info-test";
    {
        std::ofstream file(path);
        file << "PRETTY_HOSTNAME=\"From File\"\n";
    }
    if (HostDisplayNameReader::read(path) != "From File") {
        GTEST_SKIP() << "a hostnamed on the system bus answers first";
    }
    {
        std::ofstream file(path);
        file << "PRETTY_HOSTNAME=\"  \"\n";
    }
    char hostName[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(::gethostname(hostName, sizeof hostName - 1), 0);
    EXPECT_EQ(HostDisplayNameReader::read(path), hostName);
    EXPECT_EQ(HostDisplayNameReader::read(path + ".missing"), hostName);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace quillbridge
