#include "app/HostScenes.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSystemTrayIcon>

#include "app/ContentView.hpp"
#include "app/HostAboutWindow.hpp"
#include "app/HostApplication.hpp"
#include "app/HostSoftwareUpdateModel.hpp"
#include "app/PairingPromptView.hpp"
#include "app/PermissionStartupView.hpp"
#include "app/XdgAutostartLoginItem.hpp"

namespace quillbridge {
namespace {

ScenePhase scenePhaseOf(Qt::ApplicationState state) {
    switch (state) {
        case Qt::ApplicationActive:
            return ScenePhase::active;
        case Qt::ApplicationInactive:
            return ScenePhase::inactive;
        default:
            return ScenePhase::background;
    }
}

}  // namespace

HostScenes::HostScenes(MacHostApp& app, HostApplication& application, ContentView::Dependencies menuParts)
    : app_(app),
      menuWindow_([this, &application, menuParts = std::move(menuParts)] {
          return makeMenuContent(application, menuParts);
      }),
      setupScene_("permission-onboarding", QStringLiteral("Quillbridge Host Setup"),
                  [this, &application] {
                      return new PermissionStartupView(PermissionStartupView::Environment{
                          .permissionOnboarding = app_.permissionOnboarding(),
                          .screenRecorder = app_.screenRecorder(),
                          .openHelpSection = app_.openPermissionHelpSection(),
                          .terminate = [&application] { application.terminate(); },
                      });
                  }),
      aboutScene_("about", QStringLiteral("About Quillbridge Host"),
                  [this] { return new HostAboutWindow(app_.appActivationController()); }) {
    openWindow_.add(setupScene_);
    openWindow_.add(aboutScene_);

    HostAppCommands::addTo(contextMenu_, openWindow_);
    contextMenu_.addSeparator();
    contextMenu_.addAction(QString::fromUtf8(quitTitle), [&application] { application.terminate(); });

    hasTray_ = QSystemTrayIcon::isSystemTrayAvailable();
    statusBarIcon_ = std::make_unique<StatusBarIcon>(
        app_.screenRecorder(), app_.permissionOnboarding(), openWindow_, [this] { openMenuWindow(); },
        &contextMenu_);

    applicationState_ = QObject::connect(qGuiApp, &QGuiApplication::applicationStateChanged,
                                         [this](Qt::ApplicationState state) {
                                             const ScenePhase oldPhase = app_.scenePhase();
                                             const ScenePhase newPhase = scenePhaseOf(state);
                                             if (newPhase == oldPhase) {
                                                 return;
                                             }
                                             app_.handleScenePhaseChange(oldPhase, newPhase);
                                             if (newPhase == ScenePhase::active) {
                                                 app_.applicationDelegate()->applicationDidBecomeActive();
                                             }
                                         });
}

// The menu's content, with what the menu parts leave out taken from the application.
ContentView* HostScenes::makeMenuContent(HostApplication& application,
                                         ContentView::Dependencies dependencies) {
    dependencies.mainActor = app_.mainActor();
    dependencies.screenRecorder = app_.screenRecorder();
    dependencies.permissionOnboarding = app_.permissionOnboarding();
    dependencies.openWindow = [this](std::string_view identifier) { openWindow_(identifier); };
    dependencies.terminate = [&application] { application.terminate(); };
    if (!dependencies.loginItem) {
        dependencies.loginItem =
            std::make_shared<XdgAutostartLoginItem>(XdgAutostartLoginItem::defaultAutostartFolder(),
                                                    QCoreApplication::applicationFilePath().toStdString());
    }
    if (!dependencies.pairingPromptPresenter) {
        dependencies.pairingPromptPresenter = app_.pairingPromptPresenter();
    }
    if (!dependencies.makePairingPromptView) {
        dependencies.makePairingPromptView = [recorder = app_.screenRecorder(),
                                              mainActor = app_.mainActor()](QWidget* parent) -> QWidget* {
            return new PairingPromptView(recorder, mainActor, parent);
        };
    }
    if (!dependencies.updateController) {
        dependencies.updateController = std::make_shared<HostSoftwareUpdateModel>(app_.updateController());
    }
    if (!dependencies.openHelp) {
        dependencies.openHelp = app_.openPermissionHelpSection();
    }
    const auto& onboarding = app_.permissionOnboarding();
    if (!dependencies.markPermissionFlowStarted) {
        dependencies.markPermissionFlowStarted = [onboarding] { onboarding->markPermissionFlowStarted(); };
    }
    if (!dependencies.permissionRowState) {
        dependencies.permissionRowState =
            [onboarding](MandatoryPermissionIssue issue) -> std::optional<MenuSectionRules::RowState> {
            return onboarding->rowState(issue);
        };
    }
    return new ContentView(std::move(dependencies));
}

HostScenes::~HostScenes() {
    QObject::disconnect(applicationState_);
}

void HostScenes::launch() {
    if (!hasTray_) {
        Logger("App").notice(
            "No system tray on this desktop (no StatusNotifierItem watcher on the session bus and no XEmbed "
            "tray "
            "on the X display): the menu window opens as an ordinary window at launch and on every reopen");
        openMenuWindow();
    }
    app_.applicationDelegate()->applicationDidFinishLaunching();
}

void HostScenes::reopen() {
    const bool hasVisibleWindows = menuWindow_.window() != nullptr && menuWindow_.window()->isVisible();
    if (app_.applicationDelegate()->applicationShouldHandleReopen(hasVisibleWindows)) {
        openMenuWindow();
    }
}

void HostScenes::openMenuWindow() {
    if (hasTray_) {
        menuWindow_.showAsPanel(statusBarIcon_->geometry());
    } else {
        menuWindow_.showAsWindow();
    }
}

}  // namespace quillbridge
