#pragma once

#include <memory>

#include <QMenu>
#include <QMetaObject>

#include "app/ContentView.hpp"
#include "app/MacHostApp.hpp"
#include "app/MenuBarExtraWindow.hpp"
#include "app/StatusBarIcon.hpp"
#include "app/WindowScene.hpp"

namespace quillbridge {

class HostApplication;

// The application's scenes on Qt, in this order: the tray item with its window, the setup window
// ("permission-onboarding") and the About window ("about"), plus the commands of the tray item's context menu
// (About and Quit, as Linux has no application menu). It also turns Qt's application-state changes into
// scene-phase changes and the delegate's becoming-active, and carries out the default reopen: the menu
// window comes forward. Where the desktop has no tray, the menu window is an ordinary window, shown at launch
// and on every reopen. Main thread only.
class HostScenes {
public:
    static constexpr const char* quitTitle = "Quit Quillbridge Host";

    // `menuParts` holds the menu window's parts that the application does not own itself: the local device
    // name and the microphone installer. The scenes fill in the main actor, the recorder, the onboarding
    // coordinator, opening windows and Quit, and, where `menuParts` leaves them empty, the application's
    // own: the pairing prompt presenter and its view, the update controller, the help page, the
    // permission flow's start and row states, and the login item.
    HostScenes(MacHostApp& app, HostApplication& application, ContentView::Dependencies menuParts = {});
    ~HostScenes();
    HostScenes(const HostScenes&) = delete;
    HostScenes& operator=(const HostScenes&) = delete;

    // Launch: the delegate's launch, and the menu window where there is no tray.
    void launch();
    // A reopen (a second launch): a presented window comes forward, else the menu window.
    void reopen();
    void openMenuWindow();

    const OpenWindowAction& openWindow() const { return openWindow_; }
    WindowScene& setupScene() { return setupScene_; }
    WindowScene& aboutScene() { return aboutScene_; }
    MenuBarExtraWindow& menuWindow() { return menuWindow_; }
    StatusBarIcon& statusBarIcon() { return *statusBarIcon_; }
    QMenu& contextMenu() { return contextMenu_; }
    bool hasTray() const { return hasTray_; }

private:
    ContentView* makeMenuContent(HostApplication& application, ContentView::Dependencies dependencies);

    MacHostApp& app_;
    OpenWindowAction openWindow_;
    MenuBarExtraWindow menuWindow_;
    WindowScene setupScene_;
    WindowScene aboutScene_;
    QMenu contextMenu_;
    std::unique_ptr<StatusBarIcon> statusBarIcon_;
    QMetaObject::Connection applicationState_;
    bool hasTray_ = false;
};

}  // namespace quillbridge
