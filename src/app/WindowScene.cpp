#include "app/WindowScene.hpp"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include "app/QtHostWindow.hpp"

namespace quillbridge {

WindowScene::WindowScene(std::string identifier, QString title, ContentFactory makeContent)
    : identifier_(std::move(identifier)), title_(std::move(title)), makeContent_(std::move(makeContent)) {}

WindowScene::~WindowScene() {
    delete window_.data();
}

void WindowScene::open() {
    if (window_) {
        auto front = QtHostWindow::of(window_);
        if (front->isMiniaturized()) {
            front->deminiaturize();
        }
        front->makeKeyAndOrderFront();
        return;
    }
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(title_);
    window->setObjectName(QString::fromStdString(identifier_));
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    // The window takes the size of its content and cannot be resized beyond it.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(makeContent_());
    window_ = window;
    window->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    QtHostWindow::of(window)->makeKeyAndOrderFront();
}

bool OpenWindowAction::operator()(std::string_view identifier) const {
    auto found = scenes_.find(identifier);
    if (found == scenes_.end()) {
        return false;
    }
    found->second->open();
    return true;
}

}  // namespace quillbridge
