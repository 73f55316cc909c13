// The mandatory permission flow around a recorder made of fakes, on a single-threaded main actor with a
// manual clock: one request at a time, the 500 ms polls, cancellation, the stored flags and a relaunch.
#include "app/PermissionOnboardingCoordinator.hpp"

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AppTestDoubles.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Permission = MandatoryPermissionSequence::Permission;
using RowState = MandatoryPermissionSequence::RowState;
using State = ScreenRecorderSession::State;

class PermissionOnboardingCoordinatorTest : public AppTest {
protected:
    void SetUp() override {
        makeRecorder();
        makeCoordinator();
    }

    void TearDown() override {
        if (coordinator) {
            coordinator->setupWindowDidDisappear();
        }
        coordinator.reset();
        settle();
    }

    void makeCoordinator() {
        coordinator = makeOnboardingCoordinator([this] { ++completions; });
        coordinator->addObserver([this] { ++observedChanges; });
    }

    // What the setup window does when it shows and its start task runs.
    void showWindowAndBegin() {
        coordinator->setupWindowDidAppear();
        coordinator->beginPermissionRequestsIfReady();
        settle();
    }

    // The flow's next poll.
    void nextPoll() {
        clock->advance(PermissionOnboardingCoordinator::pollInterval);
        settle();
    }

    std::vector<RowState> rows() const {
        std::vector<RowState> states;
        for (Permission permission : MandatoryPermissionSequence::allPermissions) {
            states.push_back(coordinator->rowState(permission));
        }
        return states;
    }

    std::shared_ptr<PermissionOnboardingCoordinator> coordinator;
    int completions = 0;
    int observedChanges = 0;
};

TEST_F(PermissionOnboardingCoordinatorTest, NothingIsAskedBeforeTheUserStartsAndTheWindowShows) {
    probe->screenCaptureGranted = false;
    coordinator->beginPermissionRequestsIfReady();
    coordinator->setupWindowDidAppear();
    coordinator->beginPermissionRequestsIfReady();
    settle();
    EXPECT_FALSE(coordinator->hasPermissionFlowTask()) << "not started";
    EXPECT_FALSE(power->isStarted());

    coordinator->setupWindowDidDisappear();
    coordinator->markPermissionFlowStarted();
    coordinator->beginPermissionRequestsIfReady();
    settle();
    EXPECT_FALSE(coordinator->hasPermissionFlowTask()) << "no window";
    EXPECT_FALSE(coordinator->permissionRequestsHaveStarted());
    EXPECT_EQ(probe->screenCaptureRequests, 0);

    showWindowAndBegin();
    EXPECT_TRUE(coordinator->permissionRequestsHaveStarted());
    EXPECT_TRUE(power->isStarted()) << "the host-availability observers start with the requests";
    EXPECT_EQ(probe->screenCaptureRequests, 1);
}

TEST(PermissionOfIssueTest, EachIssueStandsForItsPermission) {
    EXPECT_EQ(PermissionOnboardingCoordinator::permission(MandatoryPermissionIssue::screenAndAudioCapture),
              Permission::screenCapture);
    EXPECT_EQ(PermissionOnboardingCoordinator::permission(MandatoryPermissionIssue::localNetwork),
              Permission::localNetwork);
    EXPECT_EQ(PermissionOnboardingCoordinator::permission(MandatoryPermissionIssue::syntheticInput),
              Permission::accessibility);
}

// Each permission missing at first, refused once asked, then granted in the settings: it is asked once, the
// ones behind it wait, and the grant is picked up by a later poll, which moves on to the next permission.
class MissingPermissionTest : public PermissionOnboardingCoordinatorTest,
                              public ::testing::WithParamInterface<Permission> {};

TEST_P(MissingPermissionTest, IsAskedOnceAndItsGrantIsPickedUpByALaterPoll) {
    using enum MandatoryPermissionSequence::RowState;
    {
        const Permission missing = GetParam();
        probe->screenCaptureGranted = missing != Permission::screenCapture;
        probe->syntheticInputGranted = missing != Permission::accessibility;
        coordinator->markPermissionFlowStarted();
        showWindowAndBegin();
        if (missing == Permission::localNetwork) {
            EXPECT_EQ(rows(), (std::vector<RowState>{granted, granted, requesting}))
                << "its answer is pending";
            EXPECT_EQ(session->count("startListening") + session->count("restartListening"), 1);
            report(State::localNetworkPermissionDenied());
        }
        // Those before it granted, it refused, Local Network behind it not yet asked.
        std::vector<RowState> expected{granted, granted, upcoming};
        expected[static_cast<std::size_t>(missing)] = needsSettings;
        EXPECT_EQ(rows(), expected);
        EXPECT_EQ(coordinator->permissionSequence().requested, std::set<Permission>{missing});
        // The menu's issue list reads the same rows through the recorder's issues.
        for (MandatoryPermissionIssue issue : allMandatoryPermissionIssues) {
            const auto index = static_cast<std::size_t>(PermissionOnboardingCoordinator::permission(issue));
            EXPECT_EQ(coordinator->rowState(issue), expected[index]) << rawValue(issue);
        }

        // Still refused: polls ask nothing more.
        const int checks = probe->screenCaptureChecks;
        nextPoll();
        nextPoll();
        EXPECT_GT(probe->screenCaptureChecks, checks) << "the polls go on";
        EXPECT_EQ(probe->screenCaptureRequests, missing == Permission::screenCapture ? 1 : 0);
        EXPECT_EQ(probe->syntheticInputRequests, missing == Permission::accessibility ? 1 : 0);
        EXPECT_EQ(rows(), expected);
        EXPECT_FALSE(recorder->canStartStreaming());

        // Granted in the settings.
        probe->screenCaptureGranted = true;
        probe->syntheticInputGranted = true;
        if (missing == Permission::localNetwork) {
            report(State::localNetworkPermissionGranted());
        }
        nextPoll();
        if (missing != Permission::localNetwork) {
            EXPECT_EQ(coordinator->rowState(Permission::localNetwork), requesting) << "asked on that poll";
            report(State::localNetworkPermissionGranted());
        }
        EXPECT_EQ(rows(), (std::vector<RowState>{granted, granted, granted}));
        EXPECT_TRUE(recorder->canStartStreaming());
        EXPECT_EQ(coordinator->permissionSequence().requestInProgress, std::nullopt);
        EXPECT_TRUE(coordinator->hasPermissionFlowTask()) << "the flow never completes by itself";
    }
}

std::string permissionName(const ::testing::TestParamInfo<Permission>& info) {
    switch (info.param) {
        case Permission::screenCapture:
            return "ScreenCapture";
        case Permission::accessibility:
            return "Accessibility";
        case Permission::localNetwork:
            return "LocalNetwork";
    }
    return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(EachPermission, MissingPermissionTest,
                         ::testing::ValuesIn(MandatoryPermissionSequence::allPermissions), permissionName);

TEST_F(PermissionOnboardingCoordinatorTest, EverythingGrantedCompletesOnTheFirstPollAndDoneEndsTheFlowOnce) {
    coordinator->markPermissionFlowStarted();
    showWindowAndBegin();
    EXPECT_EQ(probe->screenCaptureRequests + probe->syntheticInputRequests, 0) << "granted: no prompt";
    report(State::localNetworkPermissionGranted());
    ASSERT_TRUE(recorder->canStartStreaming());

    // It keeps polling and asks nothing.
    const auto requested = coordinator->permissionSequence().requested;
    const int checks = probe->screenCaptureChecks;
    nextPoll();
    nextPoll();
    EXPECT_GT(probe->screenCaptureChecks, checks);
    EXPECT_EQ(coordinator->permissionSequence().requested, requested);

    observedChanges = 0;
    coordinator->completePermissionFlowIfGranted();
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(coordinator->hasCompletedPermissionFlow());
    EXPECT_EQ(defaults->boolean(PermissionOnboardingCoordinator::hasCompletedDefaultsKey), true);
    EXPECT_EQ(observedChanges, 1);
    settle();
    EXPECT_FALSE(coordinator->hasPermissionFlowTask()) << "cancelled by the completion";
    const int checksAfterDone = probe->screenCaptureChecks;
    nextPoll();
    EXPECT_EQ(probe->screenCaptureChecks, checksAfterDone) << "nothing polls any more";
}

TEST_F(PermissionOnboardingCoordinatorTest, DoneWhileAGrantIsMissingChangesNothing) {
    probe->syntheticInputGranted = false;
    coordinator->markPermissionFlowStarted();
    showWindowAndBegin();
    coordinator->completePermissionFlowIfGranted();
    EXPECT_EQ(completions, 0);
    EXPECT_FALSE(coordinator->hasCompletedPermissionFlow());
    EXPECT_EQ(defaults->boolean(PermissionOnboardingCoordinator::hasCompletedDefaultsKey), std::nullopt);
    EXPECT_TRUE(coordinator->hasPermissionFlowTask());
}

TEST_F(PermissionOnboardingCoordinatorTest, StartingTwiceWritesTheKeyOnce) {
    observedChanges = 0;
    coordinator->markPermissionFlowStarted();
    coordinator->markPermissionFlowStarted();
    EXPECT_EQ(defaults->writeCount(), 1);
    EXPECT_EQ(defaults->boolean(PermissionOnboardingCoordinator::hasStartedDefaultsKey), true);
    EXPECT_TRUE(coordinator->hasStartedPermissionFlow());
    EXPECT_EQ(observedChanges, 1);
}

// The window goes after the screen-capture request was chosen and before it was made (its observers see the
// choice first): the request is taken back, the flow ends, and the reopened window asks for it again.
TEST_F(PermissionOnboardingCoordinatorTest, ClosingBeforeTheChosenRequestIsMadeTakesItBack) {
    probe->screenCaptureGranted = false;
    coordinator->markPermissionFlowStarted();
    bool closed = false;
    const auto observer = coordinator->addObserver([&] {
        if (!closed && coordinator->permissionSequence().requestInProgress == Permission::screenCapture) {
            closed = true;
            coordinator->setupWindowDidDisappear();
        }
    });
    showWindowAndBegin();
    ASSERT_TRUE(closed);
    EXPECT_EQ(probe->screenCaptureRequests, 0);
    EXPECT_TRUE(coordinator->permissionSequence().requested.empty());
    EXPECT_EQ(coordinator->permissionSequence().requestInProgress, std::nullopt);
    EXPECT_FALSE(coordinator->hasPermissionFlowTask());
    EXPECT_FALSE(activationController->isPresented(WindowRole::permissionOnboarding));

    coordinator->removeObserver(observer);
    showWindowAndBegin();
    EXPECT_EQ(probe->screenCaptureRequests, 1);
    EXPECT_EQ(coordinator->rowState(Permission::screenCapture), RowState::needsSettings);
}

TEST_F(PermissionOnboardingCoordinatorTest, ClosingTheWindowStopsThePollsAndACancelledTaskIsNotDoubled) {
    coordinator->markPermissionFlowStarted();
    showWindowAndBegin();
    ASSERT_TRUE(coordinator->hasPermissionFlowTask());
    ASSERT_EQ(clock->pendingSleeperCount(), 1u) << "the flow sleeps until its next poll";

    // Closed and shown again before the cancelled task has ended: no second task.
    coordinator->setupWindowDidDisappear();
    coordinator->setupWindowDidAppear();
    coordinator->beginPermissionRequestsIfReady();
    EXPECT_TRUE(coordinator->hasPermissionFlowTask());
    settle();
    EXPECT_FALSE(coordinator->hasPermissionFlowTask()) << "the cancelled task ended and cleared its mark";
    EXPECT_EQ(clock->pendingSleeperCount(), 0u);
    const int checks = probe->screenCaptureChecks;
    nextPoll();
    EXPECT_EQ(probe->screenCaptureChecks, checks);

    // The next start runs one flow again.
    coordinator->beginPermissionRequestsIfReady();
    settle();
    EXPECT_TRUE(coordinator->hasPermissionFlowTask());
    EXPECT_EQ(clock->pendingSleeperCount(), 1u);
}

TEST_F(PermissionOnboardingCoordinatorTest, ACoordinatorThatGoesAwayEndsItsFlow) {
    coordinator->markPermissionFlowStarted();
    showWindowAndBegin();
    ASSERT_EQ(clock->pendingSleeperCount(), 1u);
    std::weak_ptr<PermissionOnboardingCoordinator> weak = coordinator;
    coordinator.reset();
    EXPECT_TRUE(weak.expired()) << "the sleeping flow does not keep it";
    settle();
    const int checks = probe->screenCaptureChecks;
    nextPoll();
    EXPECT_EQ(probe->screenCaptureChecks, checks);
    EXPECT_EQ(clock->pendingSleeperCount(), 0u);
}

// A relaunch before completion: the started flag comes back, nothing is remembered as asked, and the
// refused permission is asked again as soon as the window shows.
TEST_F(PermissionOnboardingCoordinatorTest, ARelaunchBeforeCompletionAsksAgain) {
    probe->screenCaptureGranted = false;
    coordinator->markPermissionFlowStarted();
    showWindowAndBegin();
    ASSERT_EQ(probe->screenCaptureRequests, 1);
    coordinator->setupWindowDidDisappear();
    coordinator.reset();
    settle();

    makeCoordinator();
    EXPECT_TRUE(coordinator->hasStartedPermissionFlow());
    EXPECT_FALSE(coordinator->hasCompletedPermissionFlow());
    EXPECT_TRUE(coordinator->permissionSequence().requested.empty());
    showWindowAndBegin();
    EXPECT_EQ(probe->screenCaptureRequests, 2);

    // After completion, a relaunch needs no window: observers and Local Network at once.
    probe->screenCaptureGranted = true;
    nextPoll();
    report(State::localNetworkPermissionGranted());
    coordinator->completePermissionFlowIfGranted();
    coordinator->setupWindowDidDisappear();
    coordinator.reset();
    settle();
    makeCoordinator();
    EXPECT_TRUE(coordinator->hasCompletedPermissionFlow());
}

}  // namespace
}  // namespace quillbridge
