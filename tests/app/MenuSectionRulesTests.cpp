// The menu window's rules: which sections appear in which state, the issue list's button, the update and
// virtual microphone presentations, and the display picker's labels.
#include <gtest/gtest.h>

#include "app/MenuSectionRules.hpp"
#include "app/PermissionHelpPage.hpp"

namespace quillbridge {
namespace {

using Readiness = MenuSectionRules::Readiness;
using PairingSlot = MenuSectionRules::PairingSlot;
using Issue = MandatoryPermissionIssue;
using RowState = MenuSectionRules::RowState;

struct SectionCase {
    const char* name;
    MenuSectionRules::Inputs inputs;
    MenuSectionRules::Sections expected;
};

MenuSectionRules::Inputs started() {
    MenuSectionRules::Inputs inputs;
    inputs.hasStartedPermissionFlow = true;
    return inputs;
}

template <class Change>
MenuSectionRules::Inputs startedWith(Change change) {
    auto inputs = started();
    change(inputs);
    return inputs;
}

TEST(MenuSectionRulesTest, SectionsFollowTheGateThePromptAndTheReadiness) {
    MenuSectionRules::Inputs everything;
    everything.hasPairingPrompt = true;
    everything.hasPermissionIssues = true;
    everything.isResolvingLocalNetworkPermission = true;
    everything.isPersonaCameraSharingEnabled = true;
    everything.cameraExtensionRequiresApproval = true;
    everything.hasPairedPeers = true;
    everything.hasInstallerResources = true;

    const SectionCase cases[] = {
        {"flow not started: only the banner, even with everything pending",
         everything,
         {.setupBanner = true}},
        {"started, nothing else: the settings", started(), {.readiness = Readiness::settings}},
        {"prompt shown inline",
         startedWith([](auto& in) { in.hasPairingPrompt = true; }),
         {.pairingSlot = PairingSlot::inlinePrompt, .readiness = Readiness::settings}},
        {"prompt in the detached window",
         startedWith([](auto& in) {
             in.hasPairingPrompt = true;
             in.isPairingPromptInWindow = true;
         }),
         {.pairingSlot = PairingSlot::returnButton, .readiness = Readiness::settings}},
        {"detached flag without a prompt: no slot",
         startedWith([](auto& in) { in.isPairingPromptInWindow = true; }),
         {.readiness = Readiness::settings}},
        {"issues win over the progress row",
         startedWith([](auto& in) {
             in.hasPermissionIssues = true;
             in.isResolvingLocalNetworkPermission = true;
         }),
         {.readiness = Readiness::permissionIssues}},
        {"resolving without issues",
         startedWith([](auto& in) { in.isResolvingLocalNetworkPermission = true; }),
         {.readiness = Readiness::localNetworkProgress}},
        {"camera banner needs sharing and approval",
         startedWith([](auto& in) {
             in.isPersonaCameraSharingEnabled = true;
             in.cameraExtensionRequiresApproval = true;
         }),
         {.readiness = Readiness::settings, .cameraBanner = true}},
        {"approval without sharing: no banner",
         startedWith([](auto& in) { in.cameraExtensionRequiresApproval = true; }),
         {.readiness = Readiness::settings}},
        {"sharing without approval needed: no banner",
         startedWith([](auto& in) { in.isPersonaCameraSharingEnabled = true; }),
         {.readiness = Readiness::settings}},
        {"paired peers",
         startedWith([](auto& in) { in.hasPairedPeers = true; }),
         {.readiness = Readiness::settings, .pairedDevices = true}},
        {"installer resources",
         startedWith([](auto& in) { in.hasInstallerResources = true; }),
         {.readiness = Readiness::settings, .virtualMicrophone = true}},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(MenuSectionRules::sections(testCase.inputs), testCase.expected) << testCase.name;
    }
}

TEST(MenuSectionRulesTest, IssueListOrderAndItsOneButton) {
    EXPECT_EQ(MenuSectionRules::orderedIssues({Issue::syntheticInput, Issue::localNetwork}),
              (std::vector{Issue::localNetwork, Issue::syntheticInput}));
    EXPECT_EQ(MenuSectionRules::orderedIssues(
                  {Issue::syntheticInput, Issue::screenAndAudioCapture, Issue::localNetwork}),
              (std::vector{Issue::screenAndAudioCapture, Issue::localNetwork, Issue::syntheticInput}));

    struct ButtonCase {
        std::optional<Issue> leading;
        std::optional<RowState> state;
        const char* title;
    };
    const ButtonCase cases[] = {
        {Issue::localNetwork, RowState::needsSettings, "Open Privacy & Security"},
        {Issue::screenAndAudioCapture, RowState::needsSettings, "Open Settings"},
        {Issue::syntheticInput, RowState::needsSettings, "Open Settings"},
        {Issue::localNetwork, RowState::upcoming, "Continue Setup"},
        {Issue::screenAndAudioCapture, RowState::requesting, "Continue Setup"},
        {Issue::syntheticInput, RowState::granted, "Continue Setup"},
        {Issue::localNetwork, std::nullopt, "Continue Setup"},
        {std::nullopt, RowState::needsSettings, "Continue Setup"},
    };
    for (const auto& testCase : cases) {
        const auto action = MenuSectionRules::issueAction(testCase.leading, testCase.state);
        EXPECT_EQ(MenuSectionRules::issueActionTitle(action, testCase.leading), testCase.title);
    }
    EXPECT_EQ(MenuSectionRules::settingsPath(Issue::localNetwork),
              "System Settings > Privacy & Security > Local Network");
    EXPECT_FALSE(MenuSectionRules::settingsPath(Issue::syntheticInput));
    EXPECT_EQ(MenuSectionRules::helpSection(Issue::screenAndAudioCapture), "screen-recording");
    EXPECT_EQ(MenuSectionRules::helpSection(Issue::localNetwork), "local-network");
    EXPECT_EQ(MenuSectionRules::helpSection(Issue::syntheticInput), "accessibility");
}

// The sections the menu opens are the installed help page's own: an unknown one would open nothing.
TEST(MenuSectionRulesTest, EveryHelpSectionIsAnAnchorOfTheHelpPage) {
    for (Issue issue : allMandatoryPermissionIssues) {
        EXPECT_EQ(MenuSectionRules::helpSection(issue), PermissionHelpPage::section(issue))
            << rawValue(issue);
    }
    EXPECT_TRUE(PermissionHelpPage::isSection(MenuSectionRules::cameraExtensionHelpSection));
}

TEST(MenuSectionRulesTest, UpdatePresentationByStatus) {
    using Model = SoftwareUpdateModel;
    struct UpdateCase {
        Model::Status status;
        bool canCheck;
        const char* icon;
        const char* text;
        bool error;
        const char* button;
        bool enabled;
        bool updateButton;
        bool progress;
    };
    const UpdateCase cases[] = {
        {Model::UpdateAvailable{"1.2.3"}, true, "arrow.down.circle.fill",
         "Quillbridge Host 1.2.3 is available.", false, "Check Now", true, true, false},
        {Model::Failed{"The feed is unreachable."}, true, "exclamationmark.triangle.fill",
         "Couldn\u2019t check for updates. The feed is unreachable.", true, "Try Again", true, false, false},
        {Model::NotConfigured{}, false, "exclamationmark.triangle.fill",
         "Update checking is not configured for this development build.", false, "Check Now", false, false,
         false},
        {Model::Idle{}, true, "checkmark.circle.fill",
         "You\u2019re using the latest version of Quillbridge Host.", false, "Check Now", true, false, false},
        {Model::Checking{}, true, "arrow.trianglehead.2.clockwise.rotate.90", "Checking for updates\u2026",
         false, "Check Now", false, false, true},
        {Model::UpToDate{}, false, "checkmark.circle.fill",
         "You\u2019re using the latest version of Quillbridge Host.", false, "Check Now", false, false,
         false},
    };
    for (const auto& testCase : cases) {
        const auto shown = MenuSectionRules::updatePresentation(testCase.status, testCase.canCheck);
        SCOPED_TRACE(testCase.text);
        EXPECT_EQ(shown.iconSymbol, testCase.icon);
        EXPECT_EQ(shown.statusText, testCase.text);
        EXPECT_EQ(shown.statusIsError, testCase.error);
        EXPECT_EQ(shown.checkButtonTitle, testCase.button);
        EXPECT_EQ(shown.checkButtonEnabled, testCase.enabled);
        EXPECT_EQ(shown.showsUpdateButton, testCase.updateButton);
        EXPECT_EQ(shown.showsProgress, testCase.progress);
    }
    EXPECT_EQ(MenuSectionRules::versionLine("1.2", "45"), "Version 1.2 (45)");
    EXPECT_EQ(MenuSectionRules::versionLine(std::nullopt, std::nullopt), "Version Unknown (0)");
}

TEST(MenuSectionRulesTest, MicrophonePresentationByStateWithTheRestartOverride) {
    using State = SystemMicrophoneInstallerModel::InstallationState;
    using Package = SystemMicrophoneInstallerModel::Package;
    using Shown = MenuSectionRules::MicrophonePresentation;
    struct MicrophoneCase {
        State state;
        std::optional<std::string> version;
        Shown expected;
    };
    const MicrophoneCase cases[] = {
        {State::notInstalled,
         std::nullopt,
         {"mic.badge.plus",
          "Not Installed",
          "Installation may briefly interrupt audio. If the microphone is not available afterward, restart "
          "the Mac.",
          {Package::install}}},
        {State::installed,
         "1.4",
         {"checkmark.circle.fill", "Version 1.4", "Installed and up to date.", {Package::remove}}},
        {State::installed,
         std::nullopt,
         {"checkmark.circle.fill", "Installed", "Installed and up to date.", {Package::remove}}},
        {State::updateAvailable,
         "1.0",
         {"arrow.down.circle.fill",
          "Update Available",
          "An updated version is included with this app. Updating may briefly interrupt audio. If the change "
          "does "
          "not take effect, restart the Mac.",
          {Package::install, Package::remove}}},
        {State::newerVersionInstalled,
         "9.0",
         {"checkmark.circle.fill",
          "Version 9.0",
          "The installed virtual microphone is newer than the version included with this app, so it will not "
          "be "
          "replaced.",
          {Package::remove}}},
        {State::invalidInstallation,
         "1.0",
         {"exclamationmark.triangle.fill",
          "Needs Attention",
          "The existing virtual microphone installation could not be verified, so it has not been changed.",
          {}}},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(MenuSectionRules::microphonePresentation(testCase.state, testCase.version, false),
                  testCase.expected)
            << testCase.expected.statusText;
        // A restart recommendation takes the header and the detail; the buttons still follow the state.
        const auto restart = MenuSectionRules::microphonePresentation(testCase.state, testCase.version, true);
        EXPECT_EQ(restart, (Shown{"arrow.clockwise.circle.fill", "Restart Recommended",
                                  "Restart the Mac to finish virtual microphone installation.",
                                  testCase.expected.buttons}));
    }
    EXPECT_EQ(MenuSectionRules::microphoneButtonTitle(Package::install, State::notInstalled),
              "Install Virtual Microphone");
    EXPECT_EQ(MenuSectionRules::microphoneButtonTitle(Package::install, State::updateAvailable),
              "Update Virtual Microphone");
    EXPECT_EQ(MenuSectionRules::microphoneButtonTitle(Package::remove, State::installed),
              "Remove Virtual Microphone");
}

TEST(MenuSectionRulesTest, DisplayLabelsNameTheOutputAndItsSize) {
    CaptureDisplay display;
    display.connectorName = "  HDMI-1 ";
    display.pixelWidth = 2560;
    display.pixelHeight = 1440;
    display.pointSize = {1280, 720};
    EXPECT_EQ(MenuSectionRules::displayLabel(display), "HDMI-1: 2560 x 1440");

    display.connectorName = " \t";
    EXPECT_EQ(MenuSectionRules::displayLabel(display), "Display: 2560 x 1440")
        << "a blank name counts as none";

    display.pixelWidth.reset();
    display.pointSize = {1279.6, 720.2};
    EXPECT_EQ(MenuSectionRules::resolutionDescription(display), "1280 x 720") << "points without pixel sizes";

    display.connectorName = "<b>x</b>";
    EXPECT_EQ(MenuSectionRules::displayLabel(display), "<b>x</b>: 1280 x 720")
        << "shown as it is, never as markup";
}

}  // namespace
}  // namespace quillbridge
