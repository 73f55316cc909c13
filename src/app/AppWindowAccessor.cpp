#include "app/AppWindowAccessor.hpp"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QPointer>

namespace quillbridge {

AppWindowAccessor::AppWindowAccessor(ResolveHandler onResolve, QWidget* parent)
    : QWidget(parent), onResolve_(std::move(onResolve)) {
    setFixedSize(0, 0);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    scheduleResolution();
}

void AppWindowAccessor::scheduleResolution() {
    auto* application = QCoreApplication::instance();
    if (application == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(
        application,
        [view = QPointer<AppWindowAccessor>(this), onResolve = onResolve_] {
            QWidget* window = nullptr;
            if (view) {
                window = view->window();
                if (window == view.data()) {
                    // Not inside a window (yet).
                    window = nullptr;
                }
            }
            onResolve(window);
        },
        Qt::QueuedConnection);
}

bool AppWindowAccessor::event(QEvent* event) {
    if (event->type() == QEvent::ParentChange) {
        scheduleResolution();
    }
    return QWidget::event(event);
}

}  // namespace quillbridge
