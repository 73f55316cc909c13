#include "app/SystemMicrophoneInstaller.hpp"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <asio/io_context.hpp>

#include "core/ManualClock.hpp"

namespace quillbridge {
namespace {

using State = SystemMicrophoneInstallerModel::InstallationState;
using Package = SystemMicrophoneInstallerModel::Package;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string propertyList(const std::string& identifier, const std::string& version,
                         std::optional<std::string> shortVersion = std::nullopt) {
    std::string text = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>CFBundleIdentifier</key><string>)" +
                       identifier + "</string>\n<key>CFBundleVersion</key><string>" + version + "</string>\n";
    if (shortVersion) {
        text += "<key>CFBundleShortVersionString</key><string>" + *shortVersion + "</string>\n";
    }
    return text + "</dict></plist>\n";
}

const std::string ours(SystemMicrophoneInstaller::expectedBundleIdentifier);

class SystemMicrophoneInstallerTest : public testing::Test {
protected:
    void SetUp() override {
        root_ =
            fs::temp_directory_path() / ("quillbridge-installer-test." + std::to_string(::getpid()) + "." +
                                         testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(resources());
    }
    void TearDown() override {
        installer_.reset();
        fs::remove_all(root_);
    }

    fs::path resources() const { return root_ / "share" / "SystemMicrophone"; }
    fs::path installed() const { return root_ / "installed" / "QuillbridgeMicrophone.driver"; }
    static void write(const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    void carry(const std::string& identifier, const std::string& version) {
        write(resources() / SystemMicrophoneInstaller::metadataFileName, propertyList(identifier, version));
        write(resources() / SystemMicrophoneInstaller::installPackageFileName, "!<arch>\n");
    }
    void install(const std::string& text) { write(installed() / "Contents" / "Info.plist", text); }

    SystemMicrophoneInstaller& installer() {
        if (!installer_) {
            installer_ = SystemMicrophoneInstaller::create({context_.get_executor(), clock_, resources(),
                                                            installed(), [this] { return loaded_; },
                                                            [this](const std::vector<std::string>& command) {
                                                                launched_.push_back(command);
                                                                return launchSucceeds_;
                                                            }});
            installer_->addObserver([this] { ++notifications_; });
        }
        return *installer_;
    }
    // Moves time forward in one-second steps, running what fell due.
    void advance(std::chrono::seconds duration) {
        for (auto step = 0s; step < duration; step += 1s) {
            clock_->advance(1s);
            context_.poll();
        }
    }

    fs::path root_;
    asio::io_context context_;
    std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
    bool loaded_ = false;
    bool launchSucceeds_ = true;
    int notifications_ = 0;
    std::vector<std::vector<std::string>> launched_;
    std::shared_ptr<SystemMicrophoneInstaller> installer_;
};

TEST_F(SystemMicrophoneInstallerTest, InstalledVersionAgainstTheCarriedOne) {
    struct Case {
        const char* installedVersion;
        const char* carriedVersion;
        State state;
    };
    const Case cases[] = {{"9", "10", State::updateAvailable},
                          {"10", "9", State::newerVersionInstalled},
                          {"1.10", "1.9", State::newerVersionInstalled},
                          {"1.9", "1.10", State::updateAvailable},
                          {"1.2", "1.2", State::installed},
                          {"1.2", "1.2.0", State::updateAvailable},
                          {"007", "7", State::installed}};
    for (const auto& testCase : cases) {
        SCOPED_TRACE(std::string(testCase.installedVersion) + " vs " + testCase.carriedVersion);
        carry(ours, testCase.carriedVersion);
        install(propertyList(ours, testCase.installedVersion));
        loaded_ = true;
        installer().refreshState();
        EXPECT_TRUE(installer().hasInstallerResources());
        EXPECT_EQ(installer().state(), testCase.state);
        EXPECT_EQ(installer().installedVersion(), testCase.installedVersion);
        EXPECT_FALSE(installer().restartIsRecommended());
    }
}

TEST_F(SystemMicrophoneInstallerTest, ResourcesAndInstallationsThatDoNotCount) {
    // No resources: the group hides, the state still follows the disk.
    install(propertyList(ours, "34", "1.2"));
    installer().refreshState();
    EXPECT_FALSE(installer().hasInstallerResources());
    EXPECT_EQ(installer().state(), State::installed);
    EXPECT_EQ(installer().installedVersion(), "1.2 (34)");
    EXPECT_TRUE(installer().restartIsRecommended()) << "on disk but not running";

    // Metadata of another identifier: no resources, and any installed version counts as installed.
    carry("com.example.other", "99");
    installer().refreshState();
    EXPECT_FALSE(installer().hasInstallerResources());
    EXPECT_EQ(installer().state(), State::installed);

    struct Case {
        const char* name;
        std::string infoPlist;
    };
    const Case invalid[] = {{"empty build version", propertyList(ours, "")},
                            {"foreign identifier", propertyList("com.example.other", "1")},
                            {"not a property list", "garbage"},
                            {"not a dictionary", "<plist version=\"1.0\"><array/></plist>"}};
    carry(ours, "1");
    for (const auto& testCase : invalid) {
        SCOPED_TRACE(testCase.name);
        install(testCase.infoPlist);
        loaded_ = true;
        installer().refreshState();
        EXPECT_EQ(installer().state(), State::invalidInstallation);
        EXPECT_EQ(installer().installedVersion(), std::nullopt);
        EXPECT_FALSE(installer().restartIsRecommended());
    }

    // Removed from disk while the program still runs.
    fs::remove_all(installed());
    installer().refreshState();
    EXPECT_EQ(installer().state(), State::notInstalled);
    EXPECT_TRUE(installer().restartIsRecommended());
}

TEST_F(SystemMicrophoneInstallerTest, OpeningPackagesAndTheirLaunchErrors) {
    installer().openInstallerPackage(Package::install);
    EXPECT_EQ(installer().launchErrorMessage(),
              "The installer package is missing from this copy of Quillbridge Host.");
    EXPECT_TRUE(launched_.empty());

    carry(ours, "2");
    launchSucceeds_ = false;
    installer().openInstallerPackage(Package::install);
    EXPECT_EQ(installer().launchErrorMessage(), "macOS could not open the installer package.");

    launchSucceeds_ = true;
    installer().openInstallerPackage(Package::remove);
    EXPECT_EQ(installer().launchErrorMessage(), std::nullopt);
    ASSERT_EQ(launched_.size(), 2u);
    EXPECT_EQ(launched_[0],
              (std::vector<std::string>{"pkexec", "apt-get", "install", "--yes", "--reinstall",
                                        (resources() / "Install Quillbridge Microphone.deb").string()}));
    EXPECT_EQ(launched_[1],
              (std::vector<std::string>{"pkexec", "apt-get", "remove", "--yes", "quillbridge-microphone"}));
}

TEST_F(SystemMicrophoneInstallerTest, TheWatchConfirmsAnInstallationAfterFiveSeconds) {
    carry(ours, "2");
    installer().refreshState();
    installer().openInstallerPackage(Package::install);
    advance(3s);
    EXPECT_EQ(installer().state(), State::notInstalled);

    install(propertyList(ours, "2"));
    advance(1s);
    EXPECT_EQ(installer().state(), State::installed);
    EXPECT_TRUE(installer().restartIsRecommended()) << "each refresh reads the running program";
    loaded_ = true;
    advance(5s);
    EXPECT_FALSE(installer().restartIsRecommended()) << "confirmed, and the program runs";

    // The watch has ended: a later change is not noticed until someone refreshes.
    fs::remove_all(installed());
    advance(10s);
    EXPECT_EQ(installer().state(), State::installed);
}

TEST_F(SystemMicrophoneInstallerTest, OnlyTheLatestWatchRunsAndAWatchGivesUpAfterTenMinutes) {
    carry(ours, "2");
    install(propertyList(ours, "2"));
    loaded_ = true;
    installer().openInstallerPackage(Package::remove);
    installer().openInstallerPackage(Package::remove);
    context_.poll();
    EXPECT_EQ(clock_->pendingSleeperCount(), 1u) << "the first watch was cancelled";

    advance(600s);
    EXPECT_EQ(clock_->pendingSleeperCount(), 0u) << "the watch ended at its deadline";
    fs::remove_all(installed());
    const int notificationsBefore = notifications_;
    advance(5s);
    EXPECT_EQ(installer().state(), State::installed) << "nothing changes after the deadline";
    EXPECT_EQ(notifications_, notificationsBefore);
}

TEST(SystemMicrophoneInstallerVersions, NumericComparison) {
    using Installer = SystemMicrophoneInstaller;
    EXPECT_TRUE(Installer::compareVersions("9", "10") < 0);
    EXPECT_TRUE(Installer::compareVersions("1.10", "1.9") > 0);
    EXPECT_TRUE(Installer::compareVersions("1.02", "1.2") == 0);
    EXPECT_TRUE(Installer::compareVersions("1.2", "1.2a") < 0);
    EXPECT_TRUE(Installer::compareVersions("b", "a") > 0);
    EXPECT_TRUE(Installer::compareVersions("99999999999999999999998", "99999999999999999999999") < 0)
        << "runs longer than any integer type";
}

// The installer against the host as `cmake --install` lays it out (installed-microphone-resources-test.sh
// installs the build into temporary folders and names them here): the host's files alone, and everything the
// build installs, the microphone program and its property list included.
class InstalledHostTreeTest : public testing::Test {
protected:
    static std::optional<fs::path> tree(const char* variable) {
        const char* path = std::getenv(variable);
        return path != nullptr && *path != '\0' ? std::optional<fs::path>(path) : std::nullopt;
    }

    std::shared_ptr<SystemMicrophoneInstaller> installerOf(const fs::path& prefix) {
        const auto share = prefix / "share" / "quillbridge";
        return SystemMicrophoneInstaller::create(
            {context_.get_executor(), std::make_shared<ManualClock>(), share / "SystemMicrophone",
             share / "QuillbridgeMicrophone.driver", [] { return false; },
             [this](const std::vector<std::string>& command) {
                 launched_.push_back(command);
                 return true;
             }});
    }

    asio::io_context context_;
    std::vector<std::vector<std::string>> launched_;
};

TEST_F(InstalledHostTreeTest, TheInstalledHostCarriesTheMicrophonesPackage) {
    const auto hostOnly = tree("QUILLBRIDGE_TEST_HOST_ONLY_TREE");
    const auto everything = tree("QUILLBRIDGE_TEST_FULL_TREE");
    if (!hostOnly || !everything) {
        GTEST_SKIP() << "run through installed-microphone-resources-test.sh";
    }
    struct Case {
        const char* name;
        fs::path prefix;
        State state;
        bool hasInstalledVersion;
    };
    const Case cases[] = {{"the host's package alone", *hostOnly, State::notInstalled, false},
                          {"everything the build installs", *everything, State::installed, true}};
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        launched_.clear();
        auto installer = installerOf(testCase.prefix);
        installer->refreshState();
        EXPECT_TRUE(installer->hasInstallerResources())
            << "the menu window shows the Virtual Microphone section";
        EXPECT_EQ(installer->state(), testCase.state);
        EXPECT_EQ(installer->installedVersion().has_value(), testCase.hasInstalledVersion);
        EXPECT_FALSE(installer->launchErrorMessage());

        installer->openInstallerPackage(Package::install);
        EXPECT_FALSE(installer->launchErrorMessage());
        const auto package = testCase.prefix / "share" / "quillbridge" / "SystemMicrophone" /
                             std::string(SystemMicrophoneInstaller::installPackageFileName);
        ASSERT_EQ(launched_.size(), 1u);
        EXPECT_EQ(launched_[0], (std::vector<std::string>{"pkexec", "apt-get", "install", "--yes",
                                                          "--reinstall", package.string()}));
    }
}

}  // namespace
}  // namespace quillbridge
