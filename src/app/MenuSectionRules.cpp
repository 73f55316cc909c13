#include "app/MenuSectionRules.hpp"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "app/HostAboutDetails.hpp"

namespace quillbridge {
namespace {

std::string wholeNumber(double value) {
    if (!std::isfinite(value)) {
        return "0";
    }
    return std::to_string(static_cast<long long>(std::llround(value)));
}

std::string trimmed(std::string_view text) {
    constexpr std::string_view whitespace = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(whitespace);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(whitespace);
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace

MenuSectionRules::Sections MenuSectionRules::sections(const Inputs& inputs) {
    Sections sections;
    if (!inputs.hasStartedPermissionFlow) {
        // Before the flow has started only the banner, Software Update, About and Quit.
        sections.setupBanner = true;
        return sections;
    }
    if (inputs.hasPairingPrompt) {
        sections.pairingSlot =
            inputs.isPairingPromptInWindow ? PairingSlot::returnButton : PairingSlot::inlinePrompt;
    }
    if (inputs.hasPermissionIssues) {
        sections.readiness = Readiness::permissionIssues;
    } else if (inputs.isResolvingLocalNetworkPermission) {
        sections.readiness = Readiness::localNetworkProgress;
    } else {
        sections.readiness = Readiness::settings;
    }
    sections.cameraBanner = inputs.isPersonaCameraSharingEnabled && inputs.cameraExtensionRequiresApproval;
    sections.pairedDevices = inputs.hasPairedPeers;
    sections.virtualMicrophone = inputs.hasInstallerResources;
    return sections;
}

std::vector<MandatoryPermissionIssue> MenuSectionRules::orderedIssues(
    const std::vector<MandatoryPermissionIssue>& present) {
    std::vector<MandatoryPermissionIssue> ordered;
    for (const auto issue : allMandatoryPermissionIssues) {
        if (std::ranges::find(present, issue) != present.end()) {
            ordered.push_back(issue);
        }
    }
    return ordered;
}

MenuSectionRules::IssueAction MenuSectionRules::issueAction(
    std::optional<MandatoryPermissionIssue> leadingIssue, std::optional<RowState> leadingRowState) {
    if (leadingIssue && leadingRowState == RowState::needsSettings) {
        return IssueAction::openSettings;
    }
    return IssueAction::continueSetup;
}

std::string_view MenuSectionRules::issueActionTitle(IssueAction action,
                                                    std::optional<MandatoryPermissionIssue> leadingIssue) {
    if (action == IssueAction::continueSetup) {
        return "Continue Setup";
    }
    return leadingIssue == MandatoryPermissionIssue::localNetwork ? "Open Privacy & Security"
                                                                  : "Open Settings";
}

std::optional<std::string_view> MenuSectionRules::settingsPath(MandatoryPermissionIssue issue) {
    if (issue == MandatoryPermissionIssue::localNetwork) {
        return "System Settings > Privacy & Security > Local Network";
    }
    return std::nullopt;
}

std::string_view MenuSectionRules::helpSection(MandatoryPermissionIssue issue) {
    switch (issue) {
        case MandatoryPermissionIssue::screenAndAudioCapture:
            return "screen-recording";
        case MandatoryPermissionIssue::localNetwork:
            return "local-network";
        case MandatoryPermissionIssue::syntheticInput:
            return "accessibility";
    }
    return "screen-recording";
}

MenuSectionRules::UpdatePresentation MenuSectionRules::updatePresentation(
    const SoftwareUpdateModel::Status& status, bool canCheckForUpdates) {
    UpdatePresentation presentation;
    std::visit(
        [&](const auto& value) {
            using Case = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Case, SoftwareUpdateModel::UpdateAvailable>) {
                presentation.iconSymbol = "arrow.down.circle.fill";
                presentation.statusText = "Quillbridge Host " + value.version + " is available.";
                presentation.showsUpdateButton = true;
            } else if constexpr (std::is_same_v<Case, SoftwareUpdateModel::Failed>) {
                presentation.iconSymbol = "exclamationmark.triangle.fill";
                presentation.statusText = "Couldn\u2019t check for updates. " + value.message;
                presentation.statusIsError = true;
            } else if constexpr (std::is_same_v<Case, SoftwareUpdateModel::NotConfigured>) {
                presentation.iconSymbol = "exclamationmark.triangle.fill";
                presentation.statusText = "Update checking is not configured for this development build.";
            } else if constexpr (std::is_same_v<Case, SoftwareUpdateModel::Checking>) {
                presentation.iconSymbol = "arrow.trianglehead.2.clockwise.rotate.90";
                presentation.statusText = "Checking for updates\u2026";
                presentation.showsProgress = true;
            } else {
                presentation.iconSymbol = "checkmark.circle.fill";
                presentation.statusText = "You\u2019re using the latest version of Quillbridge Host.";
            }
        },
        status);
    const bool failed = std::holds_alternative<SoftwareUpdateModel::Failed>(status);
    const bool checking = std::holds_alternative<SoftwareUpdateModel::Checking>(status);
    presentation.checkButtonTitle = failed ? "Try Again" : "Check Now";
    presentation.checkButtonEnabled = canCheckForUpdates && !checking;
    return presentation;
}

std::string MenuSectionRules::versionLine(const std::optional<std::string>& shortVersion,
                                          const std::optional<std::string>& build) {
    return "Version " + HostAboutDetails::versionText(shortVersion, build);
}

MenuSectionRules::MicrophonePresentation MenuSectionRules::microphonePresentation(
    SystemMicrophoneInstallerModel::InstallationState state,
    const std::optional<std::string>& installedVersion, bool restartIsRecommended) {
    using State = SystemMicrophoneInstallerModel::InstallationState;
    using Package = SystemMicrophoneInstallerModel::Package;
    MicrophonePresentation presentation;
    const std::string versionText = installedVersion ? "Version " + *installedVersion : "Installed";
    switch (state) {
        case State::notInstalled:
            presentation = {"mic.badge.plus",
                            "Not Installed",
                            "Installation may briefly interrupt audio. If the microphone is not available "
                            "afterward, restart the Mac.",
                            {Package::install}};
            break;
        case State::installed:
            presentation = {
                "checkmark.circle.fill", versionText, "Installed and up to date.", {Package::remove}};
            break;
        case State::updateAvailable:
            presentation = {
                "arrow.down.circle.fill",
                "Update Available",
                "An updated version is included with this app. Updating may briefly interrupt audio. "
                "If the change does not take effect, restart the Mac.",
                {Package::install, Package::remove}};
            break;
        case State::newerVersionInstalled:
            presentation = {
                "checkmark.circle.fill",
                versionText,
                "The installed virtual microphone is newer than the version included with this app, "
                "so it will not be replaced.",
                {Package::remove}};
            break;
        case State::invalidInstallation:
            presentation = {
                "exclamationmark.triangle.fill",
                "Needs Attention",
                "The existing virtual microphone installation could not be verified, so it has not "
                "been changed.",
                {}};
            break;
    }
    if (restartIsRecommended) {
        // The recommendation takes the header and the detail; the buttons still follow the state.
        presentation.iconSymbol = "arrow.clockwise.circle.fill";
        presentation.statusText = "Restart Recommended";
        presentation.detailText = "Restart the Mac to finish virtual microphone installation.";
    }
    return presentation;
}

std::string_view MenuSectionRules::microphoneButtonTitle(
    SystemMicrophoneInstallerModel::Package package,
    SystemMicrophoneInstallerModel::InstallationState state) {
    if (package == SystemMicrophoneInstallerModel::Package::remove) {
        return "Remove Virtual Microphone";
    }
    return state == SystemMicrophoneInstallerModel::InstallationState::updateAvailable
               ? "Update Virtual Microphone"
               : "Install Virtual Microphone";
}

std::string MenuSectionRules::resolutionDescription(const CaptureDisplay& display) {
    if (display.pixelWidth && display.pixelHeight) {
        return std::to_string(*display.pixelWidth) + " x " + std::to_string(*display.pixelHeight);
    }
    return wholeNumber(display.pointSize.width) + " x " + wholeNumber(display.pointSize.height);
}

std::string MenuSectionRules::displayLabel(const CaptureDisplay& display) {
    const std::string name = trimmed(display.connectorName);
    return (name.empty() ? std::string("Display") : name) + ": " + resolutionDescription(display);
}

}  // namespace quillbridge
