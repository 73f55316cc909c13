#include "app/StatusBarIconRules.hpp"

#include "app/PermissionOnboardingCoordinator.hpp"
#include "capture/ScreenRecorder.hpp"

namespace quillbridge {

StatusBarIconRules::Inputs StatusBarIconRules::Inputs::of(const PermissionOnboardingCoordinator& onboarding,
                                                          const ScreenRecorder& recorder) {
    const auto& prompt = recorder.pairingPrompt();
    return Inputs{
        .hasStartedPermissionFlow = onboarding.hasStartedPermissionFlow(),
        .hasCompletedPermissionFlow = onboarding.hasCompletedPermissionFlow(),
        .isSetupWindowPresented = onboarding.isSetupWindowPresented(),
        .hasUnexpiredPairingPrompt = prompt.has_value() && !prompt->isExpired,
        .isConnected = recorder.isConnected(),
        .hasCompletedMandatoryPermissionCheck = recorder.hasCompletedMandatoryPermissionCheck(),
        .canStartStreaming = recorder.canStartStreaming(),
        .hasPermissionIssues = !recorder.permissionIssues().empty(),
        .isResolvingLocalNetworkPermission = recorder.isResolvingLocalNetworkPermission(),
    };
}

bool StatusBarIconRules::shouldPresentSetupWindow(const Inputs& inputs) {
    if (inputs.isSetupWindowPresented) {
        return false;
    }
    if (!inputs.hasStartedPermissionFlow || !inputs.hasCompletedPermissionFlow) {
        return true;
    }
    if (!inputs.hasCompletedMandatoryPermissionCheck || inputs.canStartStreaming) {
        return false;
    }
    if (inputs.hasPermissionIssues) {
        return true;
    }
    // Local Network access is what is missing: not while it is being resolved.
    return !inputs.isResolvingLocalNetworkPermission;
}

std::string_view StatusBarIconRules::symbolName(const Inputs& inputs) {
    if (!inputs.hasStartedPermissionFlow || shouldPresentSetupWindow(inputs) ||
        inputs.hasUnexpiredPairingPrompt) {
        return attentionSymbol;
    }
    return inputs.isConnected ? connectedSymbol : readySymbol;
}

std::string_view StatusBarIconRules::accessibilityLabel(const Inputs& inputs) {
    return inputs.hasStartedPermissionFlow ? label : setupRequiredLabel;
}

}  // namespace quillbridge
