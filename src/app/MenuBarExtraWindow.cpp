#include "app/MenuBarExtraWindow.hpp"

#include <algorithm>

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include "app/QtHostWindow.hpp"

namespace quillbridge {

// Follows the window's resizes while it is open as a panel.
class MenuBarExtraWindow::ResizeFollower final : public QObject {
public:
    explicit ResizeFollower(MenuBarExtraWindow& owner) : owner_(owner) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize && watched == owner_.window_ && owner_.isPanel_ &&
            owner_.window_->isVisible()) {
            owner_.placePanel();
        }
        return false;
    }

private:
    MenuBarExtraWindow& owner_;
};

MenuBarExtraWindow::MenuBarExtraWindow(ContentFactory makeContent)
    : makeContent_(std::move(makeContent)), resizeFollower_(std::make_unique<ResizeFollower>(*this)) {}

MenuBarExtraWindow::~MenuBarExtraWindow() {
    delete window_.data();
}

QWidget* MenuBarExtraWindow::ensureWindow(Qt::WindowFlags flags) {
    if (!window_) {
        auto* window = new QWidget(nullptr, flags);
        window->setObjectName(QStringLiteral("menu-window"));
        window->setWindowTitle(QStringLiteral("Quillbridge Host"));
        auto* layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        layout->addWidget(makeContent_());
        window->installEventFilter(resizeFollower_.get());
        window_ = window;
    } else if (window_->windowFlags() != flags) {
        // Switching between panel and window hides it; it is shown again by the caller.
        window_->setWindowFlags(flags);
    }
    window_->adjustSize();
    return window_;
}

QPoint MenuBarExtraWindow::panelPosition(QSize panel, QRect anchor, QRect available) {
    QPoint position(anchor.center().x() - panel.width() / 2, anchor.bottom() + 1);
    if (anchor.center().y() > available.center().y()) {
        // A tray at the bottom: the panel opens upwards.
        position.setY(anchor.top() - panel.height());
    }
    const int maximumX = std::max(available.left(), available.right() + 1 - panel.width());
    const int maximumY = std::max(available.top(), available.bottom() + 1 - panel.height());
    return QPoint(std::clamp(position.x(), available.left(), maximumX),
                  std::clamp(position.y(), available.top(), maximumY));
}

void MenuBarExtraWindow::showAsPanel(QRect anchor) {
    QWidget* window = ensureWindow(Qt::Popup | Qt::FramelessWindowHint);
    if (anchor.isEmpty()) {
        // Trays that do not tell where their icons are: the pointer is on the icon that was clicked.
        anchor = QRect(QCursor::pos(), QSize(1, 1));
    }
    anchor_ = anchor;
    isPanel_ = true;
    window->resize(window->sizeHint());
    placePanel();
    window->show();
    window->activateWindow();
}

void MenuBarExtraWindow::placePanel() {
    QScreen* screen = QGuiApplication::screenAt(anchor_.center());
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect available =
        screen != nullptr ? screen->availableGeometry() : QRect(anchor_.center(), QSize(1, 1));
    window_->move(panelPosition(window_->size(), anchor_, available));
}

void MenuBarExtraWindow::showAsWindow() {
    isPanel_ = false;
    QWidget* window = ensureWindow(Qt::Window);
    if (!window->isVisible()) {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window->move(frame.topLeft());
        }
    }
    auto front = QtHostWindow::of(window);
    if (front->isMiniaturized()) {
        front->deminiaturize();
    }
    front->makeKeyAndOrderFront();
}

}  // namespace quillbridge
