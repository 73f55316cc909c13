// The setup window's content on the off-screen platform, around a recorder of fakes: the explanation list
// before the flow, the status rows in their four states during it, "Done" versus closing the window, and the
// help page in place of the settings panes.
#include "app/PermissionStartupView.hpp"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "AppTestDoubles.hpp"
#include "app/WindowScene.hpp"
#include "support/FakePermissionHelpPage.hpp"

namespace quillbridge {
namespace {

using Permission = MandatoryPermissionSequence::Permission;
using RowState = MandatoryPermissionSequence::RowState;
using State = ScreenRecorderSession::State;

class PermissionStartupViewTest : public AppTest {
protected:
    void SetUp() override {
        makeRecorder();
        coordinator = makeOnboardingCoordinator([this] { ++completions; });
        scene = std::make_unique<WindowScene>(
            "permission-onboarding", QStringLiteral("Quillbridge Host Setup"), [this] {
                auto* made = new PermissionStartupView(PermissionStartupView::Environment{
                    .permissionOnboarding = coordinator,
                    .screenRecorder = recorder,
                    .openHelpSection = [this](std::string_view section) { helpPage.openSection(section); },
                    .terminate = [this] { ++terminations; },
                });
                view = made;
                return made;
            });
    }

    void TearDown() override {
        scene.reset();
        processEvents();
        coordinator.reset();
        settle();
    }

    // Qt's queued work and the main actor's, a few rounds.
    void processEvents() {
        for (int round = 0; round < 3; ++round) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
            settle();
        }
    }

    // Waits for the view's start task (its short delay) and the flow's first poll.
    void waitForStart() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return view && !view->isStartPending(); }, 5000));
        processEvents();
    }

    void nextPoll() {
        clock->advance(PermissionOnboardingCoordinator::pollInterval);
        processEvents();
    }

    std::vector<RowState> shownRows() const {
        std::vector<RowState> rows;
        for (Permission permission : MandatoryPermissionSequence::allPermissions) {
            rows.push_back(view->shownRowState(permission));
        }
        return rows;
    }

    std::shared_ptr<PermissionOnboardingCoordinator> coordinator;
    std::unique_ptr<WindowScene> scene;
    QPointer<PermissionStartupView> view;
    FakePermissionHelpPage helpPage;
    int completions = 0;
    int terminations = 0;
};

TEST_F(PermissionStartupViewTest, WidthFollowsTheTextSize) {
    const std::vector<std::pair<double, int>> cases{{8, 500},  {10, 500}, {11, 500}, {12, 525},
                                                    {13, 550}, {14, 575}, {24, 575}};
    for (const auto& [pointSize, width] : cases) {
        EXPECT_EQ(PermissionStartupView::contentWidth(pointSize), width) << pointSize;
    }
}

TEST_F(PermissionStartupViewTest, ExplainsFirstAndAsksNothingUntilTheUserContinues) {
    probe->screenCaptureGranted = false;
    scene->open();
    processEvents();
    ASSERT_TRUE(view);
    EXPECT_EQ(scene->window()->windowTitle(), "Quillbridge Host Setup");
    EXPECT_TRUE(coordinator->isSetupWindowPresented());
    EXPECT_FALSE(view->showsStatusList());
    EXPECT_TRUE(view->setUpButton()->isVisible());
    EXPECT_FALSE(view->doneButton()->isVisible());
    EXPECT_FALSE(view->isStartPending()) << "the start task ends at once before the flow";
    EXPECT_EQ(view->width(), PermissionStartupView::contentWidth(view->font().pointSizeF()));
    EXPECT_EQ(probe->screenCaptureRequests, 0);

    QTest::keyClick(scene->window(), Qt::Key_Return);
    processEvents();
    EXPECT_TRUE(coordinator->hasStartedPermissionFlow());
    EXPECT_TRUE(view->showsStatusList());
    EXPECT_FALSE(view->setUpButton()->isVisible());
    EXPECT_TRUE(view->isStartPending());
    waitForStart();
    EXPECT_EQ(probe->screenCaptureRequests, 1) << "the first request after the short delay";
}

TEST_F(PermissionStartupViewTest, StatusRowsFollowTheFlowAndDoneAppearsOnceEverythingIsGranted) {
    using enum MandatoryPermissionSequence::RowState;
    defaults->setBoolean(PermissionOnboardingCoordinator::hasStartedDefaultsKey, true);
    coordinator =
        std::make_shared<PermissionOnboardingCoordinator>(PermissionOnboardingCoordinator::Dependencies{
            .mainActor = context.get_executor(),
            .screenRecorder = recorder,
            .appActivationController = activationController,
            .defaults = defaults,
            .permissionFlowDidComplete = [this] { ++completions; },
            .clock = clock,
        });
    probe->screenCaptureGranted = false;
    probe->syntheticInputGranted = false;
    scene->open();
    processEvents();
    EXPECT_TRUE(view->showsStatusList()) << "a later run shows the status list at once";
    EXPECT_EQ(shownRows(), (std::vector<RowState>{upcoming, upcoming, upcoming}));
    waitForStart();

    // Screen capture refused: its row sends the user to the help page; the others wait.
    EXPECT_EQ(shownRows(), (std::vector<RowState>{needsSettings, upcoming, upcoming}));
    QPushButton* openSettings = view->openSettingsButton(Permission::screenCapture);
    ASSERT_TRUE(openSettings->isVisible());
    EXPECT_EQ(openSettings->accessibleName(), "Open Settings for Screen & System Audio");
    EXPECT_FALSE(view->openSettingsButton(Permission::accessibility)->isVisible());
    openSettings->click();
    EXPECT_EQ(helpPage.opened, std::vector<std::string>{"screen-recording"});
    EXPECT_FALSE(view->doneButton()->isVisible());

    // Granted meanwhile: the next poll asks for Accessibility, refused as well.
    probe->screenCaptureGranted = true;
    nextPoll();
    EXPECT_EQ(shownRows(), (std::vector<RowState>{granted, needsSettings, upcoming}));
    EXPECT_FALSE(openSettings->isVisible());
    openSettings->click();
    EXPECT_EQ(helpPage.opened.size(), 1u) << "a row that no longer needs the settings opens nothing";
    view->openSettingsButton(Permission::accessibility)->click();
    EXPECT_EQ(helpPage.opened, (std::vector<std::string>{"screen-recording", "accessibility"}));

    // Then Local Network, which waits for the probe's answer.
    probe->syntheticInputGranted = true;
    nextPoll();
    EXPECT_EQ(shownRows(), (std::vector<RowState>{granted, granted, requesting}));
    report(State::localNetworkPermissionDenied());
    processEvents();
    EXPECT_EQ(shownRows(), (std::vector<RowState>{granted, granted, needsSettings}));
    view->openSettingsButton(Permission::localNetwork)->click();
    EXPECT_EQ(helpPage.opened,
              (std::vector<std::string>{"screen-recording", "accessibility", "local-network"}));
    EXPECT_FALSE(view->doneButton()->isVisible());

    report(State::localNetworkPermissionGranted());
    processEvents();
    EXPECT_EQ(shownRows(), (std::vector<RowState>{granted, granted, granted}));
    EXPECT_TRUE(view->doneButton()->isVisible());
    EXPECT_TRUE(helpPage.refused.empty());
}

TEST_F(PermissionStartupViewTest, DoneKeepsTheHostRunningClosingOrQuitEndsIt) {
    defaults->setBoolean(PermissionOnboardingCoordinator::hasStartedDefaultsKey, true);
    coordinator =
        std::make_shared<PermissionOnboardingCoordinator>(PermissionOnboardingCoordinator::Dependencies{
            .mainActor = context.get_executor(),
            .screenRecorder = recorder,
            .appActivationController = activationController,
            .defaults = defaults,
            .permissionFlowDidComplete = [this] { ++completions; },
            .clock = clock,
        });
    scene->open();
    processEvents();
    waitForStart();
    report(State::localNetworkPermissionGranted());
    processEvents();
    ASSERT_TRUE(view->doneButton()->isVisible());

    view->doneButton()->click();
    processEvents();
    EXPECT_EQ(scene->window(), nullptr) << "the window closed";
    EXPECT_EQ(terminations, 0);
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(coordinator->hasCompletedPermissionFlow());
    EXPECT_FALSE(coordinator->isSetupWindowPresented());
    EXPECT_FALSE(activationController->isPresented(WindowRole::permissionOnboarding));

    // A fresh window closed by the user (or its Quit button) quits.
    scene->open();
    processEvents();
    scene->window()->close();
    processEvents();
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(coordinator->isSetupWindowPresented());
    EXPECT_FALSE(coordinator->hasPermissionFlowTask());

    scene->open();
    processEvents();
    view->quitButton()->click();
    EXPECT_EQ(terminations, 2);

    // The application's end destroys the open window: no further quit, and the window is gone all the same.
    scene.reset();
    processEvents();
    EXPECT_EQ(terminations, 2);
    EXPECT_FALSE(coordinator->isSetupWindowPresented());
    EXPECT_FALSE(activationController->isPresented(WindowRole::permissionOnboarding));
}

}  // namespace
}  // namespace quillbridge

namespace quillbridge {
namespace {

// Pictures of the window for a person to look at: before the flow, with a refused permission, and ready.
// Runs only with QUILLBRIDGE_SCREENSHOT_DIR set, on a real display (for example under
// run-desktop-services.sh --x11 with QT_QPA_PLATFORM=xcb), where it also takes the screen with ImageMagick.
TEST_F(PermissionStartupViewTest, Screenshots) {
    const char* folder = std::getenv("QUILLBRIDGE_SCREENSHOT_DIR");
    if (folder == nullptr) {
        GTEST_SKIP() << "set QUILLBRIDGE_SCREENSHOT_DIR to take the pictures";
    }
    const auto take = [&](const std::string& name) {
        processEvents();
        QTest::qWait(300);
        processEvents();
        ASSERT_TRUE(
            scene->window()->grab().save(QString::fromStdString(std::string(folder) + "/" + name + ".png")));
        if (std::getenv("DISPLAY") != nullptr) {
            const std::string command =
                "import -window root '" + std::string(folder) + "/" + name + "-screen.png'";
            EXPECT_EQ(std::system(command.c_str()), 0);
        }
    };
    probe->screenCaptureGranted = false;
    scene->open();
    take("setup-explanations");
    view->setUpButton()->click();
    waitForStart();
    take("setup-screen-refused");
    probe->screenCaptureGranted = true;
    nextPoll();
    report(State::localNetworkPermissionDenied());
    take("setup-local-network-refused");
    report(State::localNetworkPermissionGranted());
    take("setup-ready");
}

}  // namespace
}  // namespace quillbridge
