#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quillbridge {

// What the menu window's "Virtual Microphone" group reads of the microphone installer and asks of it.
class SystemMicrophoneInstallerModel {
public:
    enum class InstallationState {
        notInstalled,
        installed,
        updateAvailable,
        newerVersionInstalled,
        invalidInstallation
    };
    // The two packages the program carries: the installation and the removal of the virtual microphone.
    enum class Package { install, remove };

    virtual ~SystemMicrophoneInstallerModel() = default;

    // Called with no argument after each change of what it reports.
    virtual void addObserver(std::function<void()> observer) = 0;

    // Whether the program carries the installer packages at all; without them the group is absent.
    virtual bool hasInstallerResources() const = 0;
    virtual InstallationState state() const = 0;
    virtual std::optional<std::string> installedVersion() const = 0;
    virtual std::optional<std::string> launchErrorMessage() const = 0;
    virtual bool restartIsRecommended() const = 0;

    // Re-evaluates the installation state.
    virtual void refreshState() = 0;
    // Starts the package and follows the state until its operation is done; a failure to start it shows in
    // launchErrorMessage().
    virtual void openInstallerPackage(Package package) = 0;
};

// A program without the installer packages: the group is absent.
class MissingSystemMicrophoneInstaller final : public SystemMicrophoneInstallerModel {
public:
    void addObserver(std::function<void()>) override {}
    bool hasInstallerResources() const override { return false; }
    InstallationState state() const override { return InstallationState::notInstalled; }
    std::optional<std::string> installedVersion() const override { return std::nullopt; }
    std::optional<std::string> launchErrorMessage() const override { return std::nullopt; }
    bool restartIsRecommended() const override { return false; }
    void refreshState() override {}
    void openInstallerPackage(Package) override {}
};

}  // namespace quillbridge
