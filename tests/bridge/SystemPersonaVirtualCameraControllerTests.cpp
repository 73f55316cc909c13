#include "bridge/SystemPersonaVirtualCameraController.hpp"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <asio/io_context.hpp>

#include "core/Logger.hpp"
#include "core/ManualClock.hpp"
#include "support/bridge/FakeCameraExtensionSystem.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using PermissionState = PersonaVirtualCameraController::PermissionState;
using Kind = FakeCameraExtensionManager::Kind;

constexpr std::string_view category = "PersonaCameraExtensionActivation";
const std::string demandQuery{CameraNotifications::demandQuery};

CameraExtensionProperties properties(std::string shortVersion, std::string bundleVersion,
                                     bool enabled = false, bool awaitingApproval = false,
                                     bool uninstalling = false) {
    return {std::move(bundleVersion), std::move(shortVersion), enabled, awaitingApproval, uninstalling};
}

class SystemPersonaVirtualCameraControllerTest : public ::testing::Test {
protected:
    SystemPersonaVirtualCameraControllerTest() {
        controller = SystemPersonaVirtualCameraController::create(
            {context.get_executor(), &clock, manager, registry, notifications, alert});
        controller->setDemandChangedHandler([this](bool demand) { demands.push_back(demand); });
        controller->setPermissionStateChangedHandler(
            [this](PermissionState state) { states.push_back(state); });
    }
    ~SystemPersonaVirtualCameraControllerTest() override {
        controller.reset();
        run();
    }

    void run() {
        context.restart();
        context.poll();
    }
    void advance(Clock::Duration duration) {
        clock.advance(duration);
        run();
    }
    void notify(std::string_view name) {
        ASSERT_TRUE(notifications->observer);
        notifications->observer(std::string(name));
        run();
    }
    CameraExtensionRequestID activate() {
        controller->activateExtension();
        return manager->last(Kind::activation);
    }
    std::vector<std::string> errors() const {
        std::vector<std::string> texts;
        for (const auto& record : logs.records()) {
            if (record.category == category && record.level == LogLevel::error)
                texts.push_back(record.message);
        }
        return texts;
    }

    ScopedLogCapture logs;
    asio::io_context context;
    ManualClock clock;
    std::shared_ptr<FakeCameraExtensionManager> manager = std::make_shared<FakeCameraExtensionManager>();
    std::shared_ptr<FakeCameraDeviceRegistry> registry = std::make_shared<FakeCameraDeviceRegistry>();
    std::shared_ptr<FakeCameraDemandNotificationCenter> notifications =
        std::make_shared<FakeCameraDemandNotificationCenter>();
    std::shared_ptr<FakeCameraRestartAlertPresenter> alert =
        std::make_shared<FakeCameraRestartAlertPresenter>();
    std::shared_ptr<SystemPersonaVirtualCameraController> controller;
    std::vector<bool> demands;
    std::vector<PermissionState> states;
};

TEST_F(SystemPersonaVirtualCameraControllerTest, ActivationIsSubmittedOnceAndCompletesWithAVerifiedDevice) {
    const auto request = activate();
    controller->activateExtension();
    EXPECT_EQ(manager->count(Kind::activation), 1);
    EXPECT_THAT(states, ElementsAre(PermissionState::activating));
    EXPECT_THAT(logs.messages(category), ElementsAre("Activating or updating the Persona camera extension"));

    registry->foundFromLookup = 3;
    controller->requestDidFinish(request, CameraExtensionActivationResult::completed);
    run();
    EXPECT_THAT(states, ElementsAre(PermissionState::activating, PermissionState::granted));
    EXPECT_THAT(notifications->posted, ElementsAre(demandQuery));
    EXPECT_EQ(registry->lookedUp.size(), 1u);
    advance(500ms);
    advance(500ms);
    EXPECT_THAT(registry->lookedUp, ElementsAre(std::string(CameraDeviceIdentifiers::deviceUID),
                                                std::string(CameraDeviceIdentifiers::deviceUID),
                                                std::string(CameraDeviceIdentifiers::deviceUID)));
    EXPECT_THAT(notifications->posted, ElementsAre(demandQuery, demandQuery));
    EXPECT_THAT(logs.messages(category), Contains("Persona camera CoreMediaIO registration verified"));
    EXPECT_THAT(alert->messages, IsEmpty());

    // A finished activation is not submitted again in this run, and a late answer for it changes nothing.
    controller->activateExtension();
    controller->requestDidFinish(request, CameraExtensionActivationResult::willCompleteAfterReboot);
    EXPECT_EQ(manager->count(Kind::activation), 1);
    EXPECT_THAT(alert->messages, IsEmpty());
}

TEST_F(SystemPersonaVirtualCameraControllerTest, TheRestartAlertIsShownOnceWhenTheDeviceNeverAppears) {
    registry->foundFromLookup = 0;
    const auto request = activate();
    controller->requestDidFinish(request, CameraExtensionActivationResult::completed);
    run();
    for (int sleep = 0; sleep < 9; ++sleep)
        advance(500ms);
    EXPECT_EQ(registry->lookedUp.size(), 10u);
    EXPECT_THAT(alert->messages, IsEmpty());
    advance(500ms);
    EXPECT_EQ(registry->lookedUp.size(), 10u);
    EXPECT_THAT(errors(),
                ElementsAre("Persona camera extension is enabled but its CoreMediaIO device is unavailable"));
    EXPECT_THAT(alert->messages, ElementsAre("Restart Required for Persona Camera"));
    EXPECT_EQ(alert->lastButtonTitle, "OK");
}

TEST_F(SystemPersonaVirtualCameraControllerTest,
       AnActivationCompletingAfterRestartShowsTheAlertWithoutACheck) {
    controller->requestDidFinish(activate(), CameraExtensionActivationResult::willCompleteAfterReboot);
    run();
    EXPECT_THAT(states, ElementsAre(PermissionState::activating, PermissionState::granted));
    EXPECT_THAT(alert->messages, ElementsAre("Restart Required for Persona Camera"));
    EXPECT_THAT(logs.messages(category),
                Contains("Persona camera extension activation will complete after restart"));
    EXPECT_THAT(notifications->posted, ElementsAre(demandQuery));
    EXPECT_TRUE(registry->lookedUp.empty());
}

TEST_F(SystemPersonaVirtualCameraControllerTest, AnUnknownResultOnlyLogsAndAsksForDemand) {
    controller->requestDidFinish(activate(), CameraExtensionActivationResult::unknown);
    EXPECT_THAT(states, ElementsAre(PermissionState::activating));
    EXPECT_THAT(logs.messages(category),
                Contains("Persona camera extension activation returned an unknown completion result"));
    EXPECT_THAT(notifications->posted, ElementsAre(demandQuery));
    EXPECT_TRUE(registry->lookedUp.empty());
}

TEST_F(SystemPersonaVirtualCameraControllerTest, TheSameInstalledVersionCancelsQuietlyAndReadsTheState) {
    const auto request = activate();
    EXPECT_EQ(
        controller->actionForReplacingExtension(request, properties("1.2", "42"), properties("1.2", "42")),
        CameraExtensionReplacementAction::cancel);
    controller->requestDidFail(request, {true, 1, "The request was canceled"});
    EXPECT_EQ(manager->count(Kind::properties), 1);
    EXPECT_THAT(notifications->posted, ElementsAre(demandQuery));
    EXPECT_THAT(errors(), IsEmpty());

    // A redundant activation counts as done for this run.
    controller->activateExtension();
    EXPECT_EQ(manager->count(Kind::activation), 1);

    controller->requestFoundProperties(manager->last(Kind::properties), {properties("1.2", "42", true)});
    EXPECT_EQ(controller->permissionState(), PermissionState::granted);
}

TEST_F(SystemPersonaVirtualCameraControllerTest, AReplacementWhileTheCameraIsInUseFirstEndsTheDemand) {
    notify(CameraNotifications::demandStarted);
    const auto request = activate();
    // Either version differing is a replacement.
    EXPECT_EQ(
        controller->actionForReplacingExtension(request, properties("1.2", "42"), properties("1.2", "43")),
        CameraExtensionReplacementAction::replace);
    EXPECT_THAT(demands, ElementsAre(true, false));
    EXPECT_THAT(logs.messages(category),
                Contains("Replacing Persona camera extension 1.2 (42) with 1.2 (43)"));
    EXPECT_EQ(
        controller->actionForReplacingExtension(request, properties("1.2", "43"), properties("1.3", "43")),
        CameraExtensionReplacementAction::replace);
    EXPECT_THAT(demands, ElementsAre(true, false));
}

TEST_F(SystemPersonaVirtualCameraControllerTest, FailedActivationsMayBeRetried) {
    auto request = activate();
    controller->requestNeedsUserApproval(request);
    EXPECT_EQ(controller->permissionState(), PermissionState::requiresApproval);
    EXPECT_THAT(logs.messages(category),
                Contains("The Persona camera extension is waiting for user approval"));

    controller->requestDidFail(request,
                               {true, CameraExtensionRequestError::authorizationRequiredCode, "Denied"});
    EXPECT_EQ(controller->permissionState(), PermissionState::requiresApproval);
    EXPECT_EQ(manager->count(Kind::properties), 0);
    EXPECT_THAT(errors(), ElementsAre("Persona camera extension activation failed: Denied"));
    EXPECT_THAT(notifications->posted, ElementsAre(demandQuery));

    // Another error (the same code in another domain too) leads to reading the state instead.
    request = activate();
    EXPECT_EQ(manager->count(Kind::activation), 2);
    EXPECT_EQ(controller->permissionState(), PermissionState::activating);
    controller->requestDidFail(request,
                               {false, CameraExtensionRequestError::authorizationRequiredCode, "No"});
    EXPECT_EQ(manager->count(Kind::properties), 1);
    EXPECT_EQ(controller->permissionState(), PermissionState::activating);
    activate();
    EXPECT_EQ(manager->count(Kind::activation), 3);
}

TEST_F(SystemPersonaVirtualCameraControllerTest, PropertiesDecideThePermissionState) {
    const struct {
        std::vector<CameraExtensionProperties> entries;
        PermissionState expected;
    } cases[] = {
        {{}, PermissionState::unknown},
        {{properties("1", "1", true)}, PermissionState::granted},
        {{properties("1", "1")}, PermissionState::requiresApproval},
        {{properties("1", "1", true), properties("2", "2", false, true)}, PermissionState::requiresApproval},
        {{properties("1", "1", false, false, true)}, PermissionState::unknown},
        {{properties("1", "1", false, false, true), properties("2", "2")}, PermissionState::requiresApproval},
    };
    for (const auto& example : cases) {
        SCOPED_TRACE(testing::PrintToString(example.entries.size()));
        controller = SystemPersonaVirtualCameraController::create(
            {context.get_executor(), &clock, manager, registry, notifications, alert});
        controller->refreshExtensionProperties();
        const auto stale = manager->last(Kind::properties);
        controller->refreshExtensionProperties();
        // Only the answer to the newest request counts, once.
        controller->requestFoundProperties(stale, {properties("1", "1", true)});
        EXPECT_EQ(controller->permissionState(), PermissionState::unknown);
        controller->requestFoundProperties(manager->last(Kind::properties), example.entries);
        EXPECT_EQ(controller->permissionState(), example.expected);
        controller->requestFoundProperties(manager->last(Kind::properties), {properties("1", "1", true)});
        EXPECT_EQ(controller->permissionState(), example.expected);
    }
}

TEST_F(SystemPersonaVirtualCameraControllerTest, AFailedStateReadingIsLoggedOnly) {
    controller->refreshExtensionProperties();
    controller->requestDidFail(manager->last(Kind::properties), {true, 4, "Not found"});
    EXPECT_THAT(errors(), ElementsAre("Could not read Persona camera extension state: Not found"));
    EXPECT_THAT(states, IsEmpty());
    EXPECT_THAT(notifications->posted, IsEmpty());
}

TEST_F(SystemPersonaVirtualCameraControllerTest, DemandNotificationsPublishOnlyChanges) {
    notify(CameraNotifications::demandStarted);
    notify(CameraNotifications::demandStarted);
    notify("com.example.other");
    notify("");
    notify(CameraNotifications::demandStopped);
    notify(CameraNotifications::demandStopped);
    EXPECT_THAT(demands, ElementsAre(true, false));

    controller->postDemandQuery();
    EXPECT_THAT(notifications->posted, ElementsAre(demandQuery));

    // A notification on its way when the controller goes is dropped; the observation ends with it.
    notifications->observer(std::string(CameraNotifications::demandStarted));
    controller.reset();
    run();
    EXPECT_THAT(demands, ElementsAre(true, false));
    EXPECT_FALSE(notifications->observer);
}

}  // namespace
}  // namespace quillbridge
