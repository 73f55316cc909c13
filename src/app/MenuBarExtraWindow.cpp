#include "app/MenuBarExtraWindow.hpp"

#include <algorithm>

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include "app/QtHostWindow.hpp"

namespace quillbridge {

MenuBarExtraWindow::MenuBarExtraWindow(ContentFactory makeContent) : makeContent_(std::move(makeContent)) {}

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
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect available =
        screen != nullptr ? screen->availableGeometry() : QRect(anchor.center(), QSize(1, 1));
    window->move(panelPosition(window->sizeHint(), anchor, available));
    window->show();
    window->activateWindow();
}

void MenuBarExtraWindow::showAsWindow() {
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
