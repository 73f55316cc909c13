#pragma once

#include <string_view>

namespace quillbridge {

class PermissionOnboardingCoordinator;
class ScreenRecorder;

// What the tray item shows and whether the setup window ought to be open, derived from the onboarding
// coordinator and the recorder.
struct StatusBarIconRules {
    static constexpr std::string_view attentionSymbol = "vision.pro.badge.exclamationmark";
    static constexpr std::string_view readySymbol = "vision.pro.slash";
    static constexpr std::string_view connectedSymbol = "vision.pro";
    static constexpr std::string_view label = "Quillbridge Host";
    static constexpr std::string_view setupRequiredLabel = "Quillbridge Host setup required";

    // The values the rules read.
    struct Inputs {
        bool hasStartedPermissionFlow = false;
        bool hasCompletedPermissionFlow = false;
        bool isSetupWindowPresented = false;
        bool hasUnexpiredPairingPrompt = false;
        bool isConnected = false;
        bool hasCompletedMandatoryPermissionCheck = false;
        bool canStartStreaming = false;
        bool hasPermissionIssues = false;
        bool isResolvingLocalNetworkPermission = false;

        static Inputs of(const PermissionOnboardingCoordinator& onboarding, const ScreenRecorder& recorder);
    };

    static bool shouldPresentSetupWindow(const Inputs& inputs);
    static std::string_view symbolName(const Inputs& inputs);
    static std::string_view accessibilityLabel(const Inputs& inputs);
};

}  // namespace quillbridge
