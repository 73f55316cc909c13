#include "platform/linux/qt/QtMainThreadQueue.hpp"

#include <memory>

#include <QCoreApplication>
#include <QMetaObject>

namespace quillbridge {

void QtMainThreadQueue::enqueue(std::move_only_function<void()> work) {
    auto* application = QCoreApplication::instance();
    if (!application)
        return;  // no event loop to run it: dropped, as work still queued at the application's end is
    // Qt copies the functor it queues; share the move-only work instead.
    auto shared = std::make_shared<std::move_only_function<void()>>(std::move(work));
    QMetaObject::invokeMethod(
        application, [shared] { (*shared)(); }, Qt::QueuedConnection);
}

}  // namespace quillbridge
