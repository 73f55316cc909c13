#pragma once

#include <functional>
#include <memory>

#include <QPointer>
#include <QRect>
#include <QWidget>

namespace quillbridge {

// The tray item's window: a panel that opens next to the tray icon and closes when the user clicks
// elsewhere, or, where the desktop has no tray, an ordinary window. Its content is made once and kept.
class MenuBarExtraWindow {
public:
    using ContentFactory = std::function<QWidget*()>;

    explicit MenuBarExtraWindow(ContentFactory makeContent);
    ~MenuBarExtraWindow();
    MenuBarExtraWindow(const MenuBarExtraWindow&) = delete;
    MenuBarExtraWindow& operator=(const MenuBarExtraWindow&) = delete;

    // Opens the panel next to the anchor (the tray icon's place on screen; empty: where the pointer is).
    void showAsPanel(QRect anchor);
    // Opens it as an ordinary window titled "Quillbridge Host", brought forward.
    void showAsWindow();
    QWidget* window() const { return window_; }

    // Where a panel of the size goes: centred below the anchor, or above it when the anchor is in the lower
    // half of the screen, always inside the screen's available area.
    static QPoint panelPosition(QSize panel, QRect anchor, QRect available);

private:
    class ResizeFollower;

    QWidget* ensureWindow(Qt::WindowFlags flags);
    // Places the open panel again for its current size, so that a panel whose content grows or shrinks keeps
    // its edge at the tray icon.
    void placePanel();

    ContentFactory makeContent_;
    QPointer<QWidget> window_;
    QRect anchor_;
    bool isPanel_ = false;
    std::unique_ptr<ResizeFollower> resizeFollower_;
};

}  // namespace quillbridge
