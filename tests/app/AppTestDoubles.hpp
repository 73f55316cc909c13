// Fakes of the application's platform ports and a fixture that builds the application's objects around a
// recorder made of fakes (the capture suite's fixture), on a single-threaded main actor.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ApplicationActivation.hpp"
#include "app/HostAppActivationController.hpp"
#include "app/HostApplication.hpp"
#include "app/HostWindow.hpp"
#include "app/PermissionOnboardingCoordinator.hpp"
#include "capture/ScreenRecorderTestFixture.hpp"

namespace quillbridge {

// Records policy changes and activations; can refuse policy changes.
class FakeApplicationActivation final : public ApplicationActivation {
public:
    bool setActivationPolicy(ActivationPolicy newPolicy) override {
        policyChanges.push_back(newPolicy);
        if (refusesPolicyChanges) {
            return false;
        }
        policy = newPolicy;
        return true;
    }
    void activateIgnoringOtherApps() override { ++activations; }

    ActivationPolicy policy = ActivationPolicy::accessory;
    std::vector<ActivationPolicy> policyChanges;
    int activations = 0;
    bool refusesPolicyChanges = false;
};

// A window that counts how often it was fronted.
class FakeHostWindow final : public HostWindow {
public:
    bool isMiniaturized() const override { return miniaturized; }
    void deminiaturize() override {
        miniaturized = false;
        ++deminiaturizations;
    }
    void makeKeyAndOrderFront() override { ++frontings; }

    bool miniaturized = false;
    int deminiaturizations = 0;
    int frontings = 0;
};

// Records what the delegate asks of the application; the alert answers as the test says.
class FakeHostApplication final : public HostApplication {
public:
    void terminate() override { ++terminations; }
    void replyToApplicationShouldTerminate(bool shouldTerminate) override {
        replies.push_back(shouldTerminate);
    }
    AlertResponse runModalAlert(const ApplicationAlert& alert) override {
        alerts.push_back(alert);
        return alertResponse;
    }
    void openFolder(const std::filesystem::path& folder) override { openedFolders.push_back(folder); }

    AlertResponse alertResponse = AlertResponse::secondButton;
    std::vector<ApplicationAlert> alerts;
    std::vector<std::filesystem::path> openedFolders;
    std::vector<bool> replies;
    int terminations = 0;
};

// The recorder of the capture suite's fixture, with the application's own fakes beside it.
class AppTest : public ScreenRecorderTest {
protected:
    // A permission onboarding coordinator on the fixture's recorder, defaults and clock.
    std::shared_ptr<PermissionOnboardingCoordinator> makeOnboardingCoordinator(
        std::function<void()> permissionFlowDidComplete) {
        return std::make_shared<PermissionOnboardingCoordinator>(
            PermissionOnboardingCoordinator::Dependencies{
                .mainActor = context.get_executor(),
                .screenRecorder = recorder,
                .appActivationController = activationController,
                .defaults = defaults,
                .permissionFlowDidComplete = std::move(permissionFlowDidComplete),
                .clock = clock,
            });
    }

    // Whether any Local Network resolution reached the session since the last call.
    bool takeResolutions() {
        const auto calls =
            session->callsAmong({"stopListeningIfNotConnected", "startListening", "restartListening"});
        const bool resolved = calls.size() > seenResolutionCalls_;
        seenResolutionCalls_ = calls.size();
        return resolved;
    }

    std::shared_ptr<FakeApplicationActivation> activation = std::make_shared<FakeApplicationActivation>();
    std::shared_ptr<HostAppActivationController> activationController =
        std::make_shared<HostAppActivationController>(activation);
    std::shared_ptr<FakeHostApplication> application = std::make_shared<FakeHostApplication>();

private:
    std::size_t seenResolutionCalls_ = 0;
};

}  // namespace quillbridge
