// The login item as an XDG autostart entry in a temporary configuration folder.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "app/XdgAutostartLoginItem.hpp"
#include "support/ScopedEnvironment.hpp"

namespace quillbridge {
namespace {

namespace fs = std::filesystem;

std::string contentsOf(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class XdgAutostartLoginItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quillbridge-autostart.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        configHome = pattern;
    }
    void TearDown() override { fs::remove_all(configHome); }

    std::size_t filesIn(const fs::path& folder) const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

    fs::path configHome;
};

TEST_F(XdgAutostartLoginItemTest, RegisteringWritesTheEntryAndUnregisteringRemovesIt) {
    ScopedEnvironment environment("XDG_CONFIG_HOME", configHome.c_str());
    ASSERT_EQ(XdgAutostartLoginItem::defaultAutostartFolder(), configHome / "autostart");
    XdgAutostartLoginItem item(XdgAutostartLoginItem::defaultAutostartFolder(),
                               "/opt/quill bridge/bin/quillbridge-host");
    EXPECT_EQ(item.status(), LoginItemService::Status::notRegistered);

    ASSERT_TRUE(item.registerItem());
    const auto entry = configHome / "autostart" / "quillbridge-host.desktop";
    ASSERT_TRUE(fs::is_regular_file(entry));
    const auto text = contentsOf(entry);
    EXPECT_NE(text.find("[Desktop Entry]\nType=Application\nName=Quillbridge Host\n"), std::string::npos);
    EXPECT_NE(text.find("Exec=\"/opt/quill bridge/bin/quillbridge-host\"\n"), std::string::npos) << text;
    EXPECT_EQ(item.status(), LoginItemService::Status::enabled);
    EXPECT_EQ(filesIn(configHome / "autostart"), 1u) << "no temporary file is left behind";

    ASSERT_TRUE(item.registerItem()) << "registering again replaces the entry";
    EXPECT_EQ(filesIn(configHome / "autostart"), 1u);

    ASSERT_TRUE(item.unregisterItem());
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_EQ(item.status(), LoginItemService::Status::notRegistered);
    EXPECT_TRUE(item.unregisterItem()) << "nothing to remove is no failure";
}

TEST_F(XdgAutostartLoginItemTest, StatusIsReadBackFromTheFile) {
    XdgAutostartLoginItem item(configHome / "autostart", "/usr/bin/quillbridge-host");
    fs::create_directories(configHome / "autostart");
    const auto entry = configHome / "autostart" / "quillbridge-host.desktop";
    const std::pair<const char*, LoginItemService::Status> cases[] = {
        {"[Desktop Entry]\nExec=x\n", LoginItemService::Status::enabled},
        {"[Desktop Entry]\nExec=x\nHidden=true\n", LoginItemService::Status::notRegistered},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled = false\n", LoginItemService::Status::notRegistered},
        {"[Desktop Entry]\n[Desktop Action x]\nHidden=true\n", LoginItemService::Status::enabled},
    };
    for (const auto& [text, status] : cases) {
        std::ofstream(entry) << text;
        EXPECT_EQ(item.status(), status) << text;
    }
    fs::remove(entry);
    fs::create_directory(entry);
    EXPECT_EQ(item.status(), LoginItemService::Status::notRegistered) << "a folder in its place is no entry";
}

TEST_F(XdgAutostartLoginItemTest, ExecLineEscapesWhatTheDesktopEntryReserves) {
    const auto text = XdgAutostartLoginItem::entryText("/opt/a\"b$c`d\\e%f/quillbridge-host");
    EXPECT_NE(text.find("Exec=\"/opt/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e%%f/quillbridge-host\"\n"),
              std::string::npos)
        << text;
}

TEST_F(XdgAutostartLoginItemTest, FailuresAreToldAndLeaveNothingBehind) {
    // A file where the autostart folder should be: the entry cannot be written.
    std::ofstream(configHome / "autostart") << "not a folder";
    XdgAutostartLoginItem blocked(configHome / "autostart", "/usr/bin/quillbridge-host");
    const auto result = blocked.registerItem();
    ASSERT_FALSE(result);
    EXPECT_FALSE(result.error().empty());
    EXPECT_EQ(blocked.status(), LoginItemService::Status::notRegistered);
    EXPECT_EQ(filesIn(configHome), 1u);

    XdgAutostartLoginItem unwritable(configHome / "elsewhere", "/usr/bin/quillbridge\nhost");
    EXPECT_FALSE(unwritable.registerItem()) << "a line break cannot go into the Exec line";
    EXPECT_FALSE(fs::exists(configHome / "elsewhere" / "quillbridge-host.desktop"));
}

}  // namespace
}  // namespace quillbridge
