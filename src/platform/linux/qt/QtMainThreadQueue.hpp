#pragma once

#include "core/MainActorExecutor.hpp"

namespace quillbridge {

// The main actor's queue on Qt's event loop: work runs on the thread of the application object, in the
// order it was enqueued. Work enqueued while there is no application object, or still queued when it is
// destroyed, is dropped.
class QtMainThreadQueue final : public MainThreadQueue {
public:
    void enqueue(std::move_only_function<void()> work) override;
};

}  // namespace quillbridge
