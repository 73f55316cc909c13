#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

#include "app/PermissionOnboardingCoordinator.hpp"
#include "app/StatusBarIconRules.hpp"
#include "app/WindowScene.hpp"
#include "capture/ScreenRecorder.hpp"

namespace quillbridge {

// The host's tray item: one of three icons (attention needed, ready, connected) with its label as the
// tooltip; a click opens the menu window, the context menu holds the application's commands. It follows the
// recorder and the onboarding coordinator and opens the setup window by itself whenever the mandatory
// permissions need the user. On X11 the tray is a StatusNotifierItem where a watcher is on the session bus,
// else an XEmbed icon. Main thread only.
class StatusBarIcon {
public:
    StatusBarIcon(std::shared_ptr<ScreenRecorder> screenRecorder,
                  std::shared_ptr<PermissionOnboardingCoordinator> permissionOnboarding,
                  const OpenWindowAction& openWindow, std::function<void()> onClick, QMenu* contextMenu);
    ~StatusBarIcon();
    StatusBarIcon(const StatusBarIcon&) = delete;
    StatusBarIcon& operator=(const StatusBarIcon&) = delete;

    // The icon for a symbol name of the rules.
    static QIcon icon(std::string_view symbolName);

    const std::string& symbolName() const { return symbolName_; }
    // Where the icon is on screen; empty where the tray does not tell.
    QRect geometry() const { return tray_.geometry(); }
    const QSystemTrayIcon& tray() const { return tray_; }

private:
    void scheduleRefresh();
    void refresh();
    // The setup task: restarted (the previous run dropped) whenever shouldPresentSetupWindow changes.
    void restartSetupTask();

    std::shared_ptr<ScreenRecorder> screenRecorder_;
    std::shared_ptr<PermissionOnboardingCoordinator> permissionOnboarding_;
    const OpenWindowAction& openWindow_;
    QSystemTrayIcon tray_;
    std::string symbolName_;
    std::optional<bool> setupTaskKey_;
    std::uint64_t setupTaskGeneration_ = 0;
    bool isRefreshScheduled_ = false;
    // Observers registered with the recorder and the coordinator reach this object only while it lives.
    std::shared_ptr<StatusBarIcon*> self_;
};

}  // namespace quillbridge
