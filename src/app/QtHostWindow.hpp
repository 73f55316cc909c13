#pragma once

#include <memory>

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "app/HostWindow.hpp"

namespace quillbridge {

// A Qt top-level window as the activation controller fronts it: raised and activated, which on X11 asks the
// window manager for the focus (_NET_ACTIVE_WINDOW, as a user's request) or, without one, sets the input
// focus directly.
class QtHostWindow final : public HostWindow {
public:
    explicit QtHostWindow(QWidget* window) : window_(window) {}

    // The one HostWindow of a top-level widget: created on first use, released when the widget goes, so
    // weak references to it end with the window. Nothing for no widget.
    static std::shared_ptr<HostWindow> of(QWidget* window);

    bool isMiniaturized() const override { return window_ && window_->isMinimized(); }
    void deminiaturize() override;
    void makeKeyAndOrderFront() override;

    QWidget* widget() const { return window_; }

private:
    QPointer<QWidget> window_;
};

}  // namespace quillbridge
