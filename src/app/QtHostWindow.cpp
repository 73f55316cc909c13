#include "app/QtHostWindow.hpp"

namespace quillbridge {
namespace {

// Holds a window's HostWindow as the window's child, so it goes with the window.
class HostWindowHolder final : public QObject {
public:
    HostWindowHolder(QWidget* window, std::shared_ptr<HostWindow> hostWindow)
        : QObject(window), hostWindow(std::move(hostWindow)) {}
    std::shared_ptr<HostWindow> hostWindow;
};

}  // namespace

std::shared_ptr<HostWindow> QtHostWindow::of(QWidget* window) {
    if (window == nullptr) {
        return nullptr;
    }
    for (QObject* child : window->children()) {
        if (auto* holder = dynamic_cast<HostWindowHolder*>(child)) {
            return holder->hostWindow;
        }
    }
    auto hostWindow = std::make_shared<QtHostWindow>(window);
    new HostWindowHolder(window, hostWindow);
    return hostWindow;
}

void QtHostWindow::deminiaturize() {
    if (window_) {
        window_->showNormal();
    }
}

void QtHostWindow::makeKeyAndOrderFront() {
    if (!window_) {
        return;
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

}  // namespace quillbridge
