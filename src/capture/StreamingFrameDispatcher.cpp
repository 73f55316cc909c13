#include "capture/StreamingFrameDispatcher.hpp"

#include <utility>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>

#include "core/FrameStageTrace.hpp"

namespace quillbridge {

StreamingFrameDispatcher::StreamingFrameDispatcher(asio::any_io_executor drainExecutor,
                                                   SubmitFrame submitFrame)
    : drainExecutor_(std::move(drainExecutor)),
      submitFrame_(std::move(submitFrame)),
      storage_(std::make_shared<Storage>()) {}

bool StreamingFrameDispatcher::submit(Frame frame) const {
    if (frame) {
        FrameStageTrace::stamp(FrameStage::mailboxIn, frame->presentationTimeNanoseconds);
    }
    Frame replaced;
    bool wasDraining = false;
    {
        std::lock_guard lock(storage_->lock);
        replaced = std::exchange(storage_->latestSampleBuffer, std::move(frame));
        wasDraining = std::exchange(storage_->isDraining, true);
    }
    // `replaced` is released here, outside the lock.
    return !wasDraining;
}

asio::awaitable<void> StreamingFrameDispatcher::drain() const {
    return drain(storage_, submitFrame_);
}

asio::awaitable<void> StreamingFrameDispatcher::drain(std::shared_ptr<Storage> storage,
                                                      SubmitFrame submitFrame) {
    for (;;) {
        Frame frame;
        {
            std::lock_guard lock(storage->lock);
            frame = std::exchange(storage->latestSampleBuffer, nullptr);
            if (!frame) {
                storage->isDraining = false;
                co_return;
            }
        }
        try {
            co_await submitFrame(std::move(frame));
        } catch (...) {
            // A consumer that fails loses that frame only; the mailbox keeps working.
        }
    }
}

void StreamingFrameDispatcher::submitAndDrain(Frame frame) const {
    if (submit(std::move(frame))) {
        asio::co_spawn(drainExecutor_, drain(storage_, submitFrame_), asio::detached);
    }
}

void StreamingFrameDispatcher::discardPending() const {
    Frame discarded;
    std::lock_guard lock(storage_->lock);
    discarded = std::exchange(storage_->latestSampleBuffer, nullptr);
}

bool StreamingFrameDispatcher::hasPendingFrame() const {
    std::lock_guard lock(storage_->lock);
    return storage_->latestSampleBuffer != nullptr;
}

bool StreamingFrameDispatcher::isDraining() const {
    std::lock_guard lock(storage_->lock);
    return storage_->isDraining;
}

}  // namespace quillbridge
