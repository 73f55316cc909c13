#include "app/StatusBarIconRules.hpp"

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

using Inputs = StatusBarIconRules::Inputs;

Inputs completedFlow() {
    return Inputs{.hasStartedPermissionFlow = true,
                  .hasCompletedPermissionFlow = true,
                  .hasCompletedMandatoryPermissionCheck = true,
                  .canStartStreaming = true};
}

TEST(StatusBarIconRulesTest, SymbolSetupWindowAndLabelFollowTheFlowAndTheRecorder) {
    struct Case {
        const char* name;
        Inputs inputs;
        std::string_view symbol;
        bool presentsSetupWindow;
    };
    const auto withInputs = [](auto change) {
        Inputs inputs = completedFlow();
        change(inputs);
        return inputs;
    };
    const Case cases[] = {
        {"first launch", Inputs{}, StatusBarIconRules::attentionSymbol, true},
        {"first launch with the setup window up", Inputs{.isSetupWindowPresented = true},
         StatusBarIconRules::attentionSymbol, false},
        {"flow started, not completed", Inputs{.hasStartedPermissionFlow = true},
         StatusBarIconRules::attentionSymbol, true},
        // The badge stands for the window that ought to open; while it is up, the icon says ready.
        {"flow started, window up", Inputs{.hasStartedPermissionFlow = true, .isSetupWindowPresented = true},
         StatusBarIconRules::readySymbol, false},
        {"completed, first check not done", withInputs([](Inputs& in) {
             in.hasCompletedMandatoryPermissionCheck = false, in.canStartStreaming = false;
         }),
         StatusBarIconRules::readySymbol, false},
        {"completed, Accessibility missing",
         withInputs([](Inputs& in) { in.canStartStreaming = false, in.hasPermissionIssues = true; }),
         StatusBarIconRules::attentionSymbol, true},
        {"completed, Local Network being resolved", withInputs([](Inputs& in) {
             in.canStartStreaming = false, in.isResolvingLocalNetworkPermission = true;
         }),
         StatusBarIconRules::readySymbol, false},
        {"completed, Local Network resolved without access",
         withInputs([](Inputs& in) { in.canStartStreaming = false; }), StatusBarIconRules::attentionSymbol,
         true},
        {"ready", completedFlow(), StatusBarIconRules::readySymbol, false},
        {"a pending pairing prompt", withInputs([](Inputs& in) { in.hasUnexpiredPairingPrompt = true; }),
         StatusBarIconRules::attentionSymbol, false},
        {"connected", withInputs([](Inputs& in) { in.isConnected = true; }),
         StatusBarIconRules::connectedSymbol, false},
        {"connected with a pending pairing prompt",
         withInputs([](Inputs& in) { in.isConnected = true, in.hasUnexpiredPairingPrompt = true; }),
         StatusBarIconRules::attentionSymbol, false},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(StatusBarIconRules::symbolName(test.inputs), test.symbol) << test.name;
        EXPECT_EQ(StatusBarIconRules::shouldPresentSetupWindow(test.inputs), test.presentsSetupWindow)
            << test.name;
    }
}

TEST(StatusBarIconRulesTest, LabelSaysSetupIsRequiredUntilTheFlowStarts) {
    EXPECT_EQ(StatusBarIconRules::accessibilityLabel(Inputs{}), "Quillbridge Host setup required");
    EXPECT_EQ(StatusBarIconRules::accessibilityLabel(Inputs{.hasStartedPermissionFlow = true}),
              "Quillbridge Host");
}

}  // namespace
}  // namespace quillbridge
