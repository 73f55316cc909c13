// The permission help page: every section the windows open is in the page, and the adapter hands the
// desktop's opener a file:// URL that names the section, refusing what it cannot open.
#include "platform/linux/qt/XdgOpenPermissionHelpPage.hpp"

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "core/Logger.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream stream(path);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

class XdgOpenPermissionHelpPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quillbridge-help-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = pattern;
        // A page under a prefix whose name needs encoding.
        page = XdgOpenPermissionHelpPage::installedPage(folder / "my prefix");
        std::filesystem::create_directories(page.parent_path());
        std::ofstream(page) << "<html></html>";
        // The stand-in opener writes its argument where the test reads it.
        opener = folder / "opener";
        output = folder / "opened.txt";
        std::ofstream(opener) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << output.string() << "'\n";
        ::chmod(opener.c_str(), 0700);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    // What the opener was given, once it has run (bounded wait: it runs detached).
    std::string waitForOpened() {
        for (int attempt = 0; attempt < 500 && !std::filesystem::exists(output); ++attempt) {
            std::this_thread::sleep_for(10ms);
        }
        std::this_thread::sleep_for(20ms);
        return readFile(output);
    }

    std::filesystem::path folder;
    std::filesystem::path page;
    std::filesystem::path opener;
    std::filesystem::path output;
};

TEST_F(XdgOpenPermissionHelpPageTest, TheInstalledPageHasEverySectionTheWindowsOpen) {
    const std::string html = readFile(QUILLBRIDGE_HELP_PAGE_SOURCE);
    ASSERT_FALSE(html.empty());
    for (std::string_view section :
         {PermissionHelpPage::screenCaptureSection, PermissionHelpPage::accessibilitySection,
          PermissionHelpPage::localNetworkSection, PermissionHelpPage::cameraExtensionSection}) {
        EXPECT_NE(html.find("<section id=\"" + std::string(section) + "\">"), std::string::npos) << section;
    }
    EXPECT_EQ(XdgOpenPermissionHelpPage::installedPage("/usr"),
              "/usr/share/quillbridge/help/permissions.html");
}

TEST_F(XdgOpenPermissionHelpPageTest, OpensTheSectionsURL) {
    EXPECT_EQ(
        XdgOpenPermissionHelpPage::sectionURL(page, "local-network"),
        "file://" + folder.string() + "/my%20prefix/share/quillbridge/help/permissions.html#local-network");
    XdgOpenPermissionHelpPage help(page, opener.string());
    help.openSection(PermissionHelpPage::section(MandatoryPermissionIssue::localNetwork));
    EXPECT_EQ(waitForOpened(), XdgOpenPermissionHelpPage::sectionURL(page, "local-network") + "\n");
}

TEST_F(XdgOpenPermissionHelpPageTest, RefusesAnUnknownSectionAndAMissingPage) {
    ScopedLogCapture log;
    XdgOpenPermissionHelpPage help(page, opener.string());
    help.openSection("x\" onload=\"alert(1)");
    help.openSection("");
    XdgOpenPermissionHelpPage missing(folder / "nowhere.html", opener.string());
    missing.openSection(PermissionHelpPage::screenCaptureSection);
    XdgOpenPermissionHelpPage noOpener(page, (folder / "no-such-opener").string());
    noOpener.openSection(PermissionHelpPage::screenCaptureSection);
    EXPECT_FALSE(std::filesystem::exists(output)) << "nothing was opened";
    EXPECT_EQ(log.messages("PermissionHelp").size(), 4u);
}

}  // namespace
}  // namespace quillbridge
