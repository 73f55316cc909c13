#include "app/ApplicationsFolderCheck.hpp"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

namespace fs = std::filesystem;

// A folder tree of its own: the install prefix, a sibling named like it plus "2", a build tree, and links.
class ApplicationsFolderCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quillbridge-prefix-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        for (const char* folder :
             {"prefix/bin", "prefix/lib/quillbridge/tools", "prefix2/bin", "build/src/app"}) {
            fs::create_directories(root / folder);
        }
        for (const char* program :
             {"prefix/bin/quillbridge-host", "prefix/lib/quillbridge/tools/quillbridge-host",
              "prefix2/bin/quillbridge-host", "build/src/app/quillbridge-host"}) {
            std::ofstream(root / program) << "#!/bin/sh\n";
        }
        fs::create_directory_symlink(root / "prefix", root / "prefix-link");
        fs::create_symlink(root / "prefix/bin/quillbridge-host", root / "build/linked-host");
        fs::create_symlink(root / "build/src/app/quillbridge-host", root / "prefix/bin/linked-out");
    }

    void TearDown() override { fs::remove_all(root); }

    fs::path root;
};

TEST_F(ApplicationsFolderCheckTest, ProgramsInsideThePrefixPassOthersDoNot) {
    struct Case {
        const char* name;
        std::string program;
        std::string prefix;
        bool passes;
    };
    const Case cases[] = {
        {"directly in the prefix's bin", "prefix/bin/quillbridge-host", "prefix", true},
        {"in a subfolder", "prefix/lib/quillbridge/tools/quillbridge-host", "prefix", true},
        {"reached through a linked folder", "prefix-link/bin/quillbridge-host", "prefix", true},
        {"a link elsewhere that resolves into the prefix", "build/linked-host", "prefix", true},
        {"the prefix given through a link", "prefix/bin/quillbridge-host", "prefix-link", true},
        {"the prefix written with a trailing slash", "prefix/bin/quillbridge-host", "prefix/", true},
        {"dot-dot components", "prefix/bin/../bin/./quillbridge-host", "prefix", true},
        {"a sibling named like the prefix plus 2", "prefix2/bin/quillbridge-host", "prefix", false},
        {"a build tree", "build/src/app/quillbridge-host", "prefix", false},
        {"a link in the prefix that resolves out of it", "prefix/bin/linked-out", "prefix", false},
        {"dot-dot out of the prefix", "prefix/bin/../../prefix2/bin/quillbridge-host", "prefix", false},
        {"the prefix itself", "prefix", "prefix", false},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(ApplicationsFolderCheck::isInside(root / test.program, root / test.prefix), test.passes)
            << test.name;
    }
}

TEST_F(ApplicationsFolderCheckTest, ARootPrefixHoldsEveryProgram) {
    EXPECT_TRUE(ApplicationsFolderCheck::isInside(root / "build/src/app/quillbridge-host", "/"));
}

TEST_F(ApplicationsFolderCheckTest, APrefixThatDoesNotExistYetIsComparedAsWritten) {
    EXPECT_FALSE(ApplicationsFolderCheck::isInside(root / "prefix/bin/quillbridge-host", root / "missing"));
    EXPECT_TRUE(ApplicationsFolderCheck::isInside(root / "missing/bin/quillbridge-host", root / "missing"));
}

}  // namespace
}  // namespace quillbridge
