#include "app/HostAppActivationController.hpp"

#include <gtest/gtest.h>

#include "AppTestDoubles.hpp"

namespace quillbridge {
namespace {

using Policy = ActivationPolicy;

class HostAppActivationControllerTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeApplicationActivation> application = std::make_shared<FakeApplicationActivation>();
    HostAppActivationController controller{application};
};

TEST_F(HostAppActivationControllerTest, RegularWhileAnyRolePresentedAccessoryOnceNone) {
    controller.present(WindowRole::about);
    controller.present(WindowRole::pairingPrompt);
    EXPECT_EQ(application->policyChanges, std::vector<Policy>{Policy::regular});
    EXPECT_EQ(application->activations, 2);

    controller.dismiss(WindowRole::about);
    EXPECT_EQ(application->policy, Policy::regular);
    controller.dismiss(WindowRole::pairingPrompt);
    EXPECT_EQ(application->policyChanges, (std::vector<Policy>{Policy::regular, Policy::accessory}));
    EXPECT_TRUE(controller.presentedWindowRoles().empty());
}

TEST_F(HostAppActivationControllerTest, PresentingTwiceAndDismissingOnceLeavesNothingPresented) {
    controller.present(WindowRole::about);
    controller.present(WindowRole::about);
    controller.dismiss(WindowRole::about);
    EXPECT_TRUE(controller.presentedWindowRoles().empty());
    EXPECT_EQ(application->policy, Policy::accessory);
}

TEST_F(HostAppActivationControllerTest, DismissingAnAbsentRole) {
    controller.present(WindowRole::about);
    application->policyChanges.clear();
    controller.dismiss(WindowRole::pairingPrompt);
    EXPECT_TRUE(application->policyChanges.empty()) << "others are still presented";
    controller.dismiss(WindowRole::about);
    controller.dismiss(WindowRole::softwareUpdate);
    EXPECT_EQ(application->policyChanges, (std::vector<Policy>{Policy::accessory, Policy::accessory}));
}

TEST_F(HostAppActivationControllerTest, RefusedPolicyChangesAreLoggedAndTheRolesStillKept) {
    ScopedLogCapture log;
    application->refusesPolicyChanges = true;
    controller.present(WindowRole::about);
    EXPECT_TRUE(controller.isPresented(WindowRole::about));
    controller.dismiss(WindowRole::about);
    EXPECT_FALSE(controller.isPresented(WindowRole::about));
    EXPECT_EQ(log.messages("AppActivation"),
              (std::vector<std::string>{"Unable to give the app regular activation behavior",
                                        "Unable to restore accessory activation behavior"}));
    EXPECT_EQ(log.records().front().subsystem, HostAppActivationController::applicationIdentifier);
}

TEST_F(HostAppActivationControllerTest, PresentingWithAWindowFrontsItDeminiaturizingFirst) {
    auto window = std::make_shared<FakeHostWindow>();
    window->miniaturized = true;
    controller.present(WindowRole::pairingPrompt, window);
    EXPECT_EQ(window->deminiaturizations, 1);
    EXPECT_EQ(window->frontings, 1);
}

TEST_F(HostAppActivationControllerTest, RegistrationFrontsOnlyPresentedRolesAndOnlyOncePerWindow) {
    auto window = std::make_shared<FakeHostWindow>();
    controller.registerWindow(window, WindowRole::about);
    EXPECT_EQ(window->frontings, 0) << "not presented";
    EXPECT_TRUE(application->policyChanges.empty());
    EXPECT_EQ(application->activations, 0);

    controller.present(WindowRole::about);
    controller.registerWindow(window, WindowRole::about);
    EXPECT_EQ(window->frontings, 0) << "the same window again: nothing";

    auto replacement = std::make_shared<FakeHostWindow>();
    controller.registerWindow(replacement, WindowRole::about);
    controller.registerWindow(replacement, WindowRole::about);
    EXPECT_EQ(replacement->frontings, 1);
}

TEST_F(HostAppActivationControllerTest, ActivatingFrontsOnlyAPresentedRolesLiveWindow) {
    auto window = std::make_shared<FakeHostWindow>();
    controller.registerWindow(window, WindowRole::pairingPrompt);
    controller.activate(WindowRole::pairingPrompt);
    EXPECT_EQ(application->activations, 0);

    controller.present(WindowRole::pairingPrompt);
    const int frontings = window->frontings;
    controller.activate(WindowRole::pairingPrompt);
    EXPECT_EQ(window->frontings, frontings + 1);

    window.reset();
    const int activations = application->activations;
    controller.activate(WindowRole::pairingPrompt);
    EXPECT_EQ(application->activations, activations + 1) << "the application still activates";
}

TEST_F(HostAppActivationControllerTest, ReopenFrontsThePairingPromptBeforeTheSetupWindow) {
    auto setup = std::make_shared<FakeHostWindow>();
    auto prompt = std::make_shared<FakeHostWindow>();
    controller.present(WindowRole::permissionOnboarding, setup);
    controller.present(WindowRole::pairingPrompt, prompt);
    setup->frontings = prompt->frontings = 0;

    EXPECT_TRUE(controller.bringPresentedWindowsToFront());
    EXPECT_EQ(prompt->frontings, 1);
    EXPECT_EQ(setup->frontings, 0);

    prompt.reset();
    EXPECT_TRUE(controller.bringPresentedWindowsToFront()) << "a window that is gone is skipped";
    EXPECT_EQ(setup->frontings, 1);
}

TEST_F(HostAppActivationControllerTest, ReopenWithNoLiveWindowIsNotHandled) {
    controller.present(WindowRole::softwareUpdate);
    EXPECT_EQ(application->policy, Policy::regular);
    EXPECT_FALSE(controller.bringPresentedWindowsToFront());

    auto about = std::make_shared<FakeHostWindow>();
    controller.registerWindow(about, WindowRole::about);
    EXPECT_FALSE(controller.bringPresentedWindowsToFront()) << "registered but not presented";
}

}  // namespace
}  // namespace quillbridge
