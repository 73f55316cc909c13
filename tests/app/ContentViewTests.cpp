// The menu window's content on the off-screen platform, around a recorder of fakes: the sections in each
// state, the groups collapsed at each opening, what opening and becoming active resolve, Forget, the display
// picker, the login toggle on a temporary XDG_CONFIG_HOME, the microphone and update groups, and names from
// the network shown as plain text.
#include <fstream>

#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTextDocument>

#include "AppTestDoubles.hpp"
#include "app/ContentView.hpp"
#include "app/MenuBarExtraWindow.hpp"
#include "app/XdgAutostartLoginItem.hpp"
#include "support/ScopedEnvironment.hpp"

namespace quillbridge {
namespace {

namespace fs = std::filesystem;

class FakeSoftwareUpdate final : public SoftwareUpdateModel {
public:
    void addObserver(std::function<void()> observer) override { observers.push_back(std::move(observer)); }
    Status status() const override { return currentStatus; }
    bool automaticallyChecksForUpdates() const override { return automaticChecks; }
    bool canCheckForUpdates() const override { return canCheck; }
    bool hasUpdater() const override { return true; }
    void checkForUpdates() override { ++checks; }
    void checkForUpdatesInteractively() override { ++interactiveChecks; }
    void setAutomaticallyChecksForUpdates(bool enabled) override { automaticChecks = enabled; }
    void change(Status status) {
        currentStatus = std::move(status);
        for (auto& observer : observers) {
            observer();
        }
    }

    Status currentStatus = Idle{};
    bool automaticChecks = false;
    bool canCheck = true;
    int checks = 0;
    int interactiveChecks = 0;
    std::vector<std::function<void()>> observers;
};

class FakeMicrophoneInstaller final : public SystemMicrophoneInstallerModel {
public:
    void addObserver(std::function<void()> observer) override { observers.push_back(std::move(observer)); }
    bool hasInstallerResources() const override { return resources; }
    InstallationState state() const override { return currentState; }
    std::optional<std::string> installedVersion() const override { return version; }
    std::optional<std::string> launchErrorMessage() const override { return launchError; }
    bool restartIsRecommended() const override { return restart; }
    void refreshState() override { ++refreshes; }
    void openInstallerPackage(Package package) override { opened.push_back(package); }

    bool resources = true;
    InstallationState currentState = InstallationState::notInstalled;
    std::optional<std::string> version;
    std::optional<std::string> launchError;
    bool restart = false;
    int refreshes = 0;
    std::vector<Package> opened;
    std::vector<std::function<void()>> observers;
};

class FakePromptPlacement final : public PairingPromptPlacement {
public:
    void addObserver(std::function<void()> observer) override { observers.push_back(std::move(observer)); }
    bool isPairingPromptInWindow() const override { return inWindow; }
    void setPairingPromptInWindow(bool value) override {
        inWindow = value;
        for (auto& observer : observers) {
            observer();
        }
    }
    bool hasPairingPromptWindow() const override { return hasWindow; }
    void closePairingPromptWindow() override { ++closes; }

    bool inWindow = false;
    bool hasWindow = false;
    int closes = 0;
    std::vector<std::function<void()>> observers;
};

void processQtEvents() {
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

// What a label shows on screen, markup rendered.
QString shownText(const QLabel& label) {
    if (label.textFormat() == Qt::PlainText) {
        return label.text();
    }
    QTextDocument document;
    document.setHtml(label.text());
    return document.toPlainText();
}

TEST(MenuBarExtraWindowPanelTest, PanelKeepsItsEdgeAtTheIconWhenItsContentGrows) {
    QWidget* content = nullptr;
    MenuBarExtraWindow menu([&content] {
        content = new QWidget();
        content->setFixedSize(340, 200);
        return content;
    });
    // An icon in a tray at the bottom of the screen: the panel opens upwards and ends at the icon's top.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect icon(screen.right() - 30, screen.bottom() - 24, 24, 24);
    menu.showAsPanel(icon);
    processQtEvents();
    EXPECT_EQ(menu.window()->geometry().bottom() + 1, icon.top());
    content->setFixedSize(340, 320);
    processQtEvents();
    EXPECT_EQ(menu.window()->height(), 320);
    EXPECT_EQ(menu.window()->geometry().bottom() + 1, icon.top()) << "grown upwards, not over the tray";
}

class ContentViewTest : public AppTest {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quillbridge-menu.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        configHome = pattern;
        configEnvironment = std::make_unique<ScopedEnvironment>("XDG_CONFIG_HOME", configHome.c_str());
        makeRecorder();
        // The application is active before the view exists, as it is when the user opens the menu; the
        // tests change the phase themselves.
        activeWindow.show();
        activeWindow.activateWindow();
        processQtEvents();
    }

    void TearDown() override {
        view.reset();
        processQtEvents();
        settle();
        fs::remove_all(configHome);
    }

    // The view as a top-level window, as the menu window holds it.
    void makeView(bool flowStarted = true, bool flowCompleted = true) {
        defaults->setBoolean(PermissionOnboardingCoordinator::hasStartedDefaultsKey, flowStarted);
        defaults->setBoolean(PermissionOnboardingCoordinator::hasCompletedDefaultsKey, flowCompleted);
        onboarding =
            std::make_shared<PermissionOnboardingCoordinator>(PermissionOnboardingCoordinator::Dependencies{
                context.get_executor(), recorder, activationController, defaults, [] {}});
        view = std::make_unique<ContentView>(ContentView::Dependencies{
            .mainActor = context.get_executor(),
            .screenRecorder = recorder,
            .permissionOnboarding = onboarding,
            .pairingPromptPresenter = placement,
            .updateController = update,
            .loginItem = std::make_shared<XdgAutostartLoginItem>(
                XdgAutostartLoginItem::defaultAutostartFolder(), "/usr/bin/quillbridge-host"),
            .makeSystemMicrophoneInstaller =
                [this] {
                    ++installersMade;
                    return installer;
                },
            .makePairingPromptView =
                [](QWidget* parent) {
                    auto* prompt = new QLabel(QStringLiteral("Pairing prompt"), parent);
                    prompt->setObjectName(QStringLiteral("pairing-prompt"));
                    return prompt;
                },
            .markPermissionFlowStarted = [this] { ++flowStarts; },
            .permissionRowState = [this](MandatoryPermissionIssue) { return rowState; },
            .openWindow = [this](std::string_view identifier) { openedWindows.emplace_back(identifier); },
            .openHelp = [this](std::string_view section) { helpSections.emplace_back(section); },
            .terminate = [this] { ++terminations; },
            .localDeviceName = deviceName,
        });
        pump();
    }

    void pump() {
        for (int round = 0; round < 3; ++round) {
            settle();
            processQtEvents();
        }
    }

    // The recorder as a host whose grants are all there and whose listener runs.
    void bringListenerUp() {
        report(ScreenRecorderSession::State::localNetworkPermissionGranted());
        report(ScreenRecorderSession::State::listening());
        pump();
    }

    void show() {
        view->show();
        pump();
    }

    void hide() {
        view->hide();
        pump();
    }

    fs::path configHome;
    std::unique_ptr<ScopedEnvironment> configEnvironment;
    QWidget activeWindow;
    std::shared_ptr<PermissionOnboardingCoordinator> onboarding;
    std::shared_ptr<FakePromptPlacement> placement = std::make_shared<FakePromptPlacement>();
    std::shared_ptr<FakeSoftwareUpdate> update = std::make_shared<FakeSoftwareUpdate>();
    std::shared_ptr<FakeMicrophoneInstaller> installer = std::make_shared<FakeMicrophoneInstaller>();
    std::optional<MenuSectionRules::RowState> rowState;
    std::string deviceName = "Desk Host";
    int installersMade = 0;
    int flowStarts = 0;
    int terminations = 0;
    std::vector<std::string> openedWindows;
    std::vector<std::string> helpSections;
    std::unique_ptr<ContentView> view;
};

TEST_F(ContentViewTest, BeforeTheFlowStartsOnlyTheBannerUpdateAboutAndQuitShow) {
    ScreenRecorder::PairingPrompt prompt;
    prompt.peerName = "Headset";
    recorder->handlePairingPrompt(prompt);
    session->peers = {PairedPeerRecord{Uuid::random(), "Headset", {}, {}, {}}};
    run(recorder->reloadPairedPeers());
    makeView(/*flowStarted=*/false, /*flowCompleted=*/false);
    show();

    EXPECT_TRUE(view->setupBanner()->isVisible());
    for (QWidget* hidden : {view->pairingSlot(), view->issueList(), view->localNetworkProgressRow(),
                            static_cast<QWidget*>(view->configurationView()), view->cameraBanner(),
                            static_cast<QWidget*>(view->pairedDevicesGroup()),
                            static_cast<QWidget*>(view->microphoneGroup())}) {
        EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
    }
    EXPECT_TRUE(view->softwareUpdateGroup()->isVisible());
    EXPECT_TRUE(view->aboutGroup()->isVisible());
    EXPECT_TRUE(view->quitButton()->isVisible());
    EXPECT_EQ(view->width(), ContentView::fixedWidth);

    auto* setUp = view->setupBanner()->findChild<QPushButton*>();
    ASSERT_NE(setUp, nullptr);
    EXPECT_EQ(setUp->text(), "Set Up Permissions");
    setUp->click();
    EXPECT_EQ(flowStarts, 1);
    view->quitButton()->click();
    EXPECT_EQ(terminations, 1);
}

TEST_F(ContentViewTest, PairingSlotShowsThePromptInlineOrTheReturnButton) {
    makeView();
    bringListenerUp();
    show();
    EXPECT_FALSE(view->pairingSlot()->isVisible());

    ScreenRecorder::PairingPrompt prompt;
    prompt.peerName = "Headset";
    recorder->handlePairingPrompt(prompt);
    pump();
    ASSERT_NE(view->inlinePairingPrompt(), nullptr);
    EXPECT_TRUE(view->inlinePairingPrompt()->isVisible());
    EXPECT_FALSE(view->returnPromptButton()->isVisible());

    placement->setPairingPromptInWindow(true);
    pump();
    EXPECT_EQ(view->inlinePairingPrompt(), nullptr) << "the detached window shows it";
    EXPECT_TRUE(view->returnPromptButton()->isVisible());
    view->returnPromptButton()->click();
    pump();
    EXPECT_EQ(placement->closes, 0);
    EXPECT_FALSE(placement->inWindow) << "without a window the flag goes back";
    ASSERT_NE(view->inlinePairingPrompt(), nullptr);

    placement->hasWindow = true;
    placement->setPairingPromptInWindow(true);
    pump();
    view->returnPromptButton()->click();
    EXPECT_EQ(placement->closes, 1) << "a detached window is closed, its closing brings the prompt back";

    recorder->handlePairingPrompt(std::nullopt);
    pump();
    EXPECT_FALSE(view->pairingSlot()->isVisible()) << "the slot and its divider go with the prompt";
}

TEST_F(ContentViewTest, ReadinessShowsIssuesProgressOrSettings) {
    makeView();
    show();
    // Before the session reports anything the recorder is resolving Local Network access.
    EXPECT_TRUE(view->localNetworkProgressRow()->isVisible());
    EXPECT_FALSE(view->configurationView()->isVisible());

    bringListenerUp();
    EXPECT_TRUE(view->configurationView()->isVisible());
    EXPECT_FALSE(view->localNetworkProgressRow()->isVisible());
    EXPECT_FALSE(view->disableInput());

    probe->syntheticInputGranted = false;
    recorder->refreshPermissionState();
    report(ScreenRecorderSession::State::localNetworkPermissionDenied());
    pump();
    EXPECT_TRUE(view->issueList()->isVisible());
    EXPECT_FALSE(view->configurationView()->isVisible());
    EXPECT_TRUE(view->disableInput());
    std::vector<std::string> blocks;
    for (auto* block : view->issueList()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        for (auto* row : block->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (!row->objectName().isEmpty()) {
                blocks.push_back(row->objectName().toStdString());
            }
        }
    }
    EXPECT_EQ(blocks, (std::vector<std::string>{"localNetwork", "syntheticInput"})) << "the fixed order";
    EXPECT_EQ(view->issueActionButton()->text(), "Continue Setup");
    view->issueActionButton()->click();
    EXPECT_EQ(openedWindows, std::vector<std::string>{"permission-onboarding"});

    rowState = MenuSectionRules::RowState::needsSettings;
    recorder->refreshPermissionState();
    pump();
    EXPECT_EQ(view->issueActionButton()->text(), "Open Privacy & Security");
    view->issueActionButton()->click();
    EXPECT_EQ(helpSections, std::vector<std::string>{"local-network"});
    rowState = MenuSectionRules::RowState::granted;
    view->issueActionButton()->click();
    EXPECT_EQ(helpSections.size(), 1u) << "the state moved on: nothing happens";
}

TEST_F(ContentViewTest, EveryOpeningCollapsesTheGroupsAndReadsTheInstallerAgain) {
    session->peers = {PairedPeerRecord{Uuid::random(), "Headset", {}, {}, {}}};
    run(recorder->reloadPairedPeers());
    makeView();
    bringListenerUp();
    show();
    EXPECT_EQ(installer->refreshes, 1);
    std::vector<DisclosureGroup*> groups{view->pairedDevicesGroup(), view->microphoneGroup(),
                                         view->softwareUpdateGroup(), view->aboutGroup()};
    for (auto* group : groups) {
        EXPECT_TRUE(group->isVisible());
        EXPECT_FALSE(group->isExpanded());
        group->toggle()->click();
        EXPECT_TRUE(group->isExpanded());
        EXPECT_TRUE(group->content()->isVisible());
    }
    hide();
    show();
    for (auto* group : groups) {
        EXPECT_FALSE(group->isExpanded());
        EXPECT_FALSE(group->content()->isVisible());
    }
    EXPECT_EQ(installer->refreshes, 2);
    EXPECT_EQ(installersMade, 1) << "one installer for the life of the view";
}

TEST_F(ContentViewTest, OpeningAndBecomingActiveResolveLocalNetworkOnlyOnceTheFlowBegan) {
    recorder->setLocalNetworkPermissionChecksEnabled(true);
    makeView(/*flowStarted=*/true, /*flowCompleted=*/false);
    takeResolutions();
    show();
    EXPECT_FALSE(takeResolutions()) << "neither completed nor requests started";
    view->scenePhaseDidChange(ScenePhase::active);
    pump();
    EXPECT_FALSE(takeResolutions());
    EXPECT_EQ(installer->refreshes, 2) << "the installer is read at every activation";
    view.reset();

    makeView(/*flowStarted=*/true, /*flowCompleted=*/true);
    takeResolutions();
    show();
    EXPECT_TRUE(takeResolutions());
    view->scenePhaseDidChange(ScenePhase::inactive);
    pump();
    EXPECT_FALSE(takeResolutions()) << "other phases do nothing";
    view->scenePhaseDidChange(ScenePhase::active);
    pump();
    EXPECT_TRUE(takeResolutions());
}

TEST_F(ContentViewTest, ForgetReachesTheRecorderAndTheRowGoes) {
    const auto kept = Uuid::random();
    const auto forgotten = Uuid::random();
    session->peers = {PairedPeerRecord{kept, "Same Name", {}, {}, {}},
                      PairedPeerRecord{forgotten, "Same Name", {}, {}, {}}};
    run(recorder->reloadPairedPeers());
    makeView();
    bringListenerUp();
    show();
    ASSERT_EQ(view->pairedDevicesList()->count(), 2) << "two peers of one name are two rows";
    EXPECT_LE(view->pairedDevicesList()->height(), ContentView::pairedDevicesMaximumHeight);
    EXPECT_EQ(view->pairedDeviceMenu(2), nullptr);

    auto menu = view->pairedDeviceMenu(1);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().front()->text(), "Forget");
    menu->actions().front()->trigger();
    pump();
    EXPECT_EQ(session->callsAmong({"forgetPairedPeer"}).size(), 1u);
    ASSERT_EQ(recorder->pairedPeers().size(), 1u);
    EXPECT_EQ(recorder->pairedPeers().front().id, kept);
    EXPECT_EQ(view->pairedDevicesList()->count(), 1);

    view->pairedDeviceMenu(0)->actions().front()->trigger();
    pump();
    EXPECT_FALSE(view->pairedDevicesGroup()->isVisible()) << "the last one gone: the group goes";
}

TEST_F(ContentViewTest, ManyPeersScrollInsideTheBoundedList) {
    for (int index = 0; index < 30; ++index) {
        session->peers.push_back(
            PairedPeerRecord{Uuid::random(), "Headset " + std::to_string(index), {}, {}, {}});
    }
    run(recorder->reloadPairedPeers());
    makeView();
    bringListenerUp();
    show();
    view->pairedDevicesGroup()->setExpanded(true);
    pump();
    EXPECT_EQ(view->pairedDevicesList()->height(), ContentView::pairedDevicesMaximumHeight);
    EXPECT_EQ(view->pairedDevicesList()->count(), 30);
}

TEST_F(ContentViewTest, SettingsWriteTheDisplayChoiceAndThePeerToPeerSetting) {
    makeView();
    bringListenerUp();
    run(recorder->refreshAvailableContent());
    show();
    auto* picker = view->configurationView()->displayPicker();
    ASSERT_EQ(picker->count(), 2);
    EXPECT_EQ(picker->itemText(0), "HDMI-1: 1920 x 1080");
    EXPECT_EQ(picker->itemText(1), "HDMI-2: 2560 x 1440");

    picker->setCurrentIndex(1);
    Q_EMIT picker->activated(1);
    pump();
    EXPECT_EQ(defaults->string(ScreenRecorder::preferredDisplayDefaultsKey), "displayID:2");
    ASSERT_TRUE(recorder->selectedDisplay());
    EXPECT_EQ(recorder->selectedDisplay()->displayID, 2u);
    EXPECT_EQ(picker->currentIndex(), 1) << "the picker reads the selection back";

    auto* peerToPeer = view->configurationView()->peerToPeerToggle();
    EXPECT_FALSE(peerToPeer->isChecked());
    peerToPeer->click();
    pump();
    EXPECT_TRUE(recorder->enablePeerToPeer());
    EXPECT_EQ(defaults->boolean(ScreenRecorder::peerToPeerDefaultsKey), true);
    EXPECT_TRUE(peerToPeer->isChecked());
}

TEST_F(ContentViewTest, LoginToggleWritesAndRemovesTheAutostartEntry) {
    makeView();
    bringListenerUp();
    show();
    auto& settings = *view->configurationView();
    const auto entry = configHome / "autostart" / "quillbridge-host.desktop";
    EXPECT_FALSE(settings.openAtLoginToggle()->isChecked());

    settings.openAtLoginToggle()->click();
    EXPECT_TRUE(fs::is_regular_file(entry));
    EXPECT_TRUE(settings.openAtLoginToggle()->isChecked());
    EXPECT_FALSE(settings.loginErrorLabel()->isVisible());

    settings.openAtLoginToggle()->click();
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_FALSE(settings.openAtLoginToggle()->isChecked());

    // Changed behind the window's back: read again the next time the section is shown.
    fs::create_directories(entry.parent_path());
    std::ofstream(entry) << "[Desktop Entry]\nExec=quillbridge-host\n";
    hide();
    show();
    EXPECT_TRUE(settings.openAtLoginToggle()->isChecked());
}

TEST_F(ContentViewTest, LoginToggleTellsWhyTheEntryCouldNotBeWritten) {
    std::ofstream(configHome / "autostart") << "a file where the folder should be";
    makeView();
    bringListenerUp();
    show();
    auto& settings = *view->configurationView();
    settings.openAtLoginToggle()->click();
    EXPECT_FALSE(settings.openAtLoginToggle()->isChecked()) << "the status, not the wish";
    EXPECT_TRUE(settings.loginErrorLabel()->isVisible());
    EXPECT_TRUE(settings.loginErrorLabel()->text().startsWith("Could not update startup setting: "))
        << settings.loginErrorLabel()->text().toStdString();
    EXPECT_GT(settings.loginErrorLabel()->text().size(),
              QString("Could not update startup setting: ").size());
}

TEST_F(ContentViewTest, NamesFromTheNetworkAndTheSystemShowAsPlainText) {
    const std::string hostile = "<b>x</b>";
    session->peers = {PairedPeerRecord{Uuid::random(), hostile, {}, {}, {}}};
    run(recorder->reloadPairedPeers());
    displays->displays.front().connectorName = hostile;
    deviceName = "<i>Desk</i> & Co";
    makeView();
    bringListenerUp();
    run(recorder->refreshAvailableContent());
    show();

    ASSERT_EQ(view->pairedDevicesList()->count(), 1);
    EXPECT_EQ(view->pairedDevicesList()->item(0)->text().toStdString(), hostile);
    EXPECT_EQ(view->configurationView()->displayPicker()->itemText(0).toStdString(),
              hostile + ": 1920 x 1080");
    EXPECT_EQ(shownText(*view->configurationView()->deviceNameLabel()),
              "This device will appear as <i>Desk</i> & Co");
    for (auto* label : view->findChildren<QLabel*>()) {
        if (label->textFormat() != Qt::PlainText && label != view->configurationView()->deviceNameLabel()) {
            EXPECT_FALSE(label->text().contains(QString::fromStdString(hostile)))
                << label->text().toStdString();
        }
    }
}

TEST_F(ContentViewTest, MicrophoneGroupFollowsTheInstallerAndShowsBothErrors) {
    installer->currentState = SystemMicrophoneInstallerModel::InstallationState::updateAvailable;
    installer->launchError = "The installer could not be opened.";
    makeView();
    bringListenerUp();
    show();
    view->microphoneGroup()->setExpanded(true);
    EXPECT_EQ(view->microphoneGroup()->trailingLabel()->text(), "Update Available");
    auto buttons = view->microphoneButtonRow()->findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_EQ(buttons[0]->text(), "Update Virtual Microphone");
    EXPECT_EQ(buttons[1]->text(), "Remove Virtual Microphone");
    buttons[0]->click();
    buttons[1]->click();
    EXPECT_EQ(installer->opened, (std::vector{SystemMicrophoneInstallerModel::Package::install,
                                              SystemMicrophoneInstallerModel::Package::remove}));
    EXPECT_TRUE(view->microphoneLaunchErrorLabel()->isVisible());
    EXPECT_FALSE(view->microphoneStartErrorLabel()->isVisible());

    installer->currentState = SystemMicrophoneInstallerModel::InstallationState::invalidInstallation;
    for (auto& observer : installer->observers) {
        observer();
    }
    pump();
    EXPECT_EQ(view->microphoneGroup()->trailingLabel()->text(), "Needs Attention");
    EXPECT_FALSE(view->microphoneButtonRow()->isVisible()) << "no action on an unverified installation";
    EXPECT_TRUE(view->microphoneLaunchErrorLabel()->isVisible()) << "errors still show";

    installer->resources = false;
    view.reset();
    makeView();
    show();
    EXPECT_FALSE(view->microphoneGroup()->isVisible()) << "no installer packages: no group";
}

TEST_F(ContentViewTest, UpdateGroupFollowsTheControllerAndDefaultsToNotConfigured) {
    makeView();
    show();
    view->softwareUpdateGroup()->setExpanded(true);
    EXPECT_EQ(view->updateCheckButton()->text(), "Check Now");
    view->updateCheckButton()->click();
    EXPECT_EQ(update->checks, 1);

    update->change(SoftwareUpdateModel::Checking{});
    pump();
    EXPECT_FALSE(view->updateCheckButton()->isEnabled());
    update->change(SoftwareUpdateModel::Failed{"Timed out."});
    pump();
    EXPECT_EQ(view->updateCheckButton()->text(), "Try Again");
    EXPECT_EQ(view->updateStatusLabel()->text(), "Couldn\u2019t check for updates. Timed out.");
    update->change(SoftwareUpdateModel::UpdateAvailable{"2.0"});
    pump();
    ASSERT_TRUE(view->updateNowButton()->isVisible());
    view->updateNowButton()->click();
    EXPECT_EQ(update->interactiveChecks, 1);
    view.reset();

    // Without an update controller: not configured.
    onboarding =
        std::make_shared<PermissionOnboardingCoordinator>(PermissionOnboardingCoordinator::Dependencies{
            context.get_executor(), recorder, activationController, defaults, [] {}});
    ContentView::Dependencies bareParts;
    bareParts.mainActor = context.get_executor();
    bareParts.screenRecorder = recorder;
    bareParts.permissionOnboarding = onboarding;
    bareParts.loginItem =
        std::make_shared<XdgAutostartLoginItem>(configHome / "autostart", "/usr/bin/quillbridge-host");
    ContentView bare(std::move(bareParts));
    bare.show();
    bare.softwareUpdateGroup()->setExpanded(true);
    pump();
    EXPECT_EQ(bare.updateStatusLabel()->text(),
              "Update checking is not configured for this development build.");
    EXPECT_FALSE(bare.updateCheckButton()->isEnabled());
    EXPECT_FALSE(bare.updateNowButton()->isVisible());
    auto* automatic = bare.softwareUpdateGroup()->content()->findChild<QCheckBox*>();
    ASSERT_NE(automatic, nullptr);
    EXPECT_FALSE(automatic->isEnabled());
    EXPECT_FALSE(bare.microphoneGroup()->isVisible());
}

TEST_F(ContentViewTest, CameraBannerOpensTheHelpPage) {
    makeView();
    bringListenerUp();
    show();
    EXPECT_FALSE(view->cameraBanner()->isVisible());
    recorder->handlePersonaCameraSharing(true);
    ASSERT_TRUE(cameraController->permissionStateChanged);
    cameraController->permissionStateChanged(
        PersonaVirtualCameraController::PermissionState::requiresApproval);
    pump();
    ASSERT_TRUE(view->cameraBanner()->isVisible());
    auto* button = view->cameraBanner()->findChild<QPushButton*>();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Open Camera Extension Settings");
    button->click();
    EXPECT_EQ(helpSections, std::vector<std::string>{"camera-extension"});
}

}  // namespace
}  // namespace quillbridge
