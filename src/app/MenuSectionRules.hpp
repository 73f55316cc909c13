#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/MandatoryPermissionSequence.hpp"
#include "app/SoftwareUpdateModel.hpp"
#include "app/SystemMicrophoneInstallerModel.hpp"
#include "capture/CaptureDisplay.hpp"
#include "capture/MandatoryPermissionIssue.hpp"

namespace quillbridge {

// What the menu window shows, decided from plain values: which sections appear, and the texts, icons and
// buttons of the readiness, update and virtual microphone sections. Icons are named by symbol; the window
// maps the names to the desktop's icons.
struct MenuSectionRules {
    // What the sections depend on.
    struct Inputs {
        bool hasStartedPermissionFlow = false;
        bool hasPairingPrompt = false;
        bool isPairingPromptInWindow = false;
        bool hasPermissionIssues = false;
        bool isResolvingLocalNetworkPermission = false;
        bool isPersonaCameraSharingEnabled = false;
        bool cameraExtensionRequiresApproval = false;
        bool hasPairedPeers = false;
        bool hasInstallerResources = false;
    };

    enum class PairingSlot { absent, inlinePrompt, returnButton };
    enum class Readiness { absent, permissionIssues, localNetworkProgress, settings };

    // The sections in their order. Software Update, About and Quit are always shown.
    struct Sections {
        bool setupBanner = false;
        PairingSlot pairingSlot = PairingSlot::absent;
        Readiness readiness = Readiness::absent;
        bool cameraBanner = false;
        bool pairedDevices = false;
        bool virtualMicrophone = false;
        bool operator==(const Sections&) const = default;
    };

    static Sections sections(const Inputs& inputs);

    // The state of a permission's row in the permission flow.
    using RowState = MandatoryPermissionSequence::RowState;

    // The present issues in the list's order; the first is the leading issue.
    static std::vector<MandatoryPermissionIssue> orderedIssues(
        const std::vector<MandatoryPermissionIssue>& present);

    // The issue list's one button.
    enum class IssueAction { continueSetup, openSettings };
    static IssueAction issueAction(std::optional<MandatoryPermissionIssue> leadingIssue,
                                   std::optional<RowState> leadingRowState);
    // "Open Privacy & Security" for the Local Network, "Open Settings" otherwise, "Continue Setup".
    static std::string_view issueActionTitle(IssueAction action,
                                             std::optional<MandatoryPermissionIssue> leadingIssue);
    // The settings path the issue shows under its message, if any.
    static std::optional<std::string_view> settingsPath(MandatoryPermissionIssue issue);
    // The section of the host's help page that tells how to grant the permission.
    static std::string_view helpSection(MandatoryPermissionIssue issue);
    static constexpr std::string_view cameraExtensionHelpSection = "camera-extension";

    // Software Update.
    struct UpdatePresentation {
        std::string iconSymbol;
        std::string statusText;
        bool statusIsError = false;
        std::string checkButtonTitle;
        bool checkButtonEnabled = false;
        bool showsUpdateButton = false;
        bool showsProgress = false;
    };
    static UpdatePresentation updatePresentation(const SoftwareUpdateModel::Status& status,
                                                 bool canCheckForUpdates);
    // "Version 1.2 (45)".
    static std::string versionLine(const std::optional<std::string>& shortVersion,
                                   const std::optional<std::string>& build);

    // Virtual Microphone.
    struct MicrophonePresentation {
        std::string iconSymbol;
        std::string statusText;
        std::string detailText;
        // Left to right; empty: the row of buttons is absent.
        std::vector<SystemMicrophoneInstallerModel::Package> buttons;
        bool operator==(const MicrophonePresentation&) const = default;
    };
    static MicrophonePresentation microphonePresentation(
        SystemMicrophoneInstallerModel::InstallationState state,
        const std::optional<std::string>& installedVersion, bool restartIsRecommended);
    // "Install Virtual Microphone", "Update Virtual Microphone" (the install package on an update) or "Remove
    // Virtual Microphone".
    static std::string_view microphoneButtonTitle(SystemMicrophoneInstallerModel::Package package,
                                                  SystemMicrophoneInstallerModel::InstallationState state);

    // Settings.
    // The display's size: pixel width and height (its point size without pixel sizes), whole numbers joined
    // by " x ".
    static std::string resolutionDescription(const CaptureDisplay& display);
    // The screen's name (the output's connector name, trimmed), ": " and the size; "Display: " and the size
    // without a name.
    static std::string displayLabel(const CaptureDisplay& display);
};

}  // namespace quillbridge
