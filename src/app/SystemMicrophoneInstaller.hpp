#pragma once

#include <compare>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <asio/any_io_executor.hpp>

#include "app/SystemMicrophoneInstallerModel.hpp"
#include "core/Clock.hpp"
#include "core/Task.hpp"

namespace quillbridge {

// What a microphone program's property list says of it.
struct DriverBundleInfo {
    std::string bundleIdentifier;
    std::string bundleVersion;
    std::string displayVersion;

    bool operator==(const DriverBundleInfo&) const = default;
};

// The virtual microphone's installation as the menu window shows it: whether this copy of the host carries
// the microphone's package and its version metadata, whether (and which version of) the microphone program
// is installed, how it compares with the carried one, and whether the user should restart (the running
// program does not match what is on disk). Installing and removing go through the system's package tool;
// the outcome is learned only by watching the disk and the program's socket (every second for up to ten
// minutes, confirmed five seconds later).
//
// On Linux the microphone's Debian package installs its program and a property list of the installed
// program ("Contents/Info.plist" under the installed folder); the host's resources ("SystemMicrophone")
// carry the metadata "QuillbridgeMicrophoneMetadata.plist" and the package "Install Quillbridge
// Microphone.deb". Removal asks the package tool to remove the package by name, so it needs no file.
//
// Used on the main actor only.
class SystemMicrophoneInstaller final : public SystemMicrophoneInstallerModel,
                                        public std::enable_shared_from_this<SystemMicrophoneInstaller> {
public:
    enum class DriverRuntimeRequirement { loaded, unloaded };

    static constexpr std::string_view expectedBundleIdentifier =
        "com.mossharbor.quillbridge.microphone.driver";
    static constexpr std::string_view metadataFileName = "QuillbridgeMicrophoneMetadata.plist";
    static constexpr std::string_view installPackageFileName = "Install Quillbridge Microphone.deb";
    static constexpr std::string_view debianPackageName = "quillbridge-microphone";
    static constexpr std::string_view missingPackageMessage =
        "The installer package is missing from this copy of Quillbridge Host.";
    static constexpr std::string_view openFailedMessage = "macOS could not open the installer package.";
    static constexpr std::chrono::seconds watchDuration{600};
    static constexpr std::chrono::seconds watchPollInterval{1};
    static constexpr std::chrono::seconds watchConfirmationDelay{5};

    struct Dependencies {
        // The main actor.
        asio::any_io_executor executor;
        std::shared_ptr<Clock> clock;
        // The host's "SystemMicrophone" resources folder.
        std::filesystem::path resourcesDirectory;
        // Where the microphone's package installs the program's folder.
        std::filesystem::path installedDriverDirectory;
        // Whether the microphone program answers on its socket with its box.
        std::function<bool()> isDriverLoaded;
        // Starts a command without waiting for it; false when it could not be started.
        std::function<bool(const std::vector<std::string>& command)> launch;
    };

    static std::shared_ptr<SystemMicrophoneInstaller> create(Dependencies dependencies);

    void addObserver(std::function<void()> observer) override;
    bool hasInstallerResources() const override { return hasInstallerResources_; }
    InstallationState state() const override { return state_; }
    std::optional<std::string> installedVersion() const override { return installedVersion_; }
    std::optional<std::string> launchErrorMessage() const override { return launchErrorMessage_; }
    bool restartIsRecommended() const override { return restartIsRecommended_; }
    void refreshState() override;
    void openInstallerPackage(Package package) override;

    // Starts the package for the requirement and watches until `isComplete` accepts the state; true when the
    // package tool was started.
    bool openInstallerPackage(Package package, DriverRuntimeRequirement requirement,
                              std::function<bool(InstallationState)> isComplete);

    // The bundle information in property-list bytes (XML or binary); nothing unless it is a dictionary with
    // a string identifier and a non-empty string version.
    static std::optional<DriverBundleInfo> readDriverBundleInfo(std::span<const std::uint8_t> bytes);
    // Compares versions as numeric string comparison does: runs of digits by their value, other characters
    // one by one.
    static std::strong_ordering compareVersions(std::string_view left, std::string_view right);

private:
    explicit SystemMicrophoneInstaller(Dependencies dependencies);

    std::optional<DriverBundleInfo> readBundleInfoFile(const std::filesystem::path& path) const;
    void startPackageMonitoring(DriverRuntimeRequirement requirement,
                                std::function<bool(InstallationState)> isComplete);
    template <class T>
    void assign(T& field, T value);

    Dependencies dependencies_;
    std::vector<std::function<void()>> observers_;
    InstallationState state_ = InstallationState::notInstalled;
    bool hasInstallerResources_ = false;
    std::optional<std::string> installedVersion_;
    std::optional<std::string> launchErrorMessage_;
    bool restartIsRecommended_ = false;
    Task packageMonitoringTask_;
};

}  // namespace quillbridge
