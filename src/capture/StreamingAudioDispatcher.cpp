#include "capture/StreamingAudioDispatcher.hpp"

#include <utility>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>

namespace quillbridge {

StreamingAudioDispatcher::StreamingAudioDispatcher(asio::any_io_executor drainExecutor,
                                                   SubmitBuffer submitBuffer)
    : drainExecutor_(std::move(drainExecutor)),
      submitBuffer_(std::move(submitBuffer)),
      storage_(std::make_shared<Storage>()) {}

bool StreamingAudioDispatcher::submit(Buffer buffer) const {
    std::vector<Buffer> dropped;
    bool wasDraining = false;
    {
        std::lock_guard lock(storage_->lock);
        auto& pending = storage_->pendingBuffers;
        while (pending.size() >= maximumPendingBuffers) {
            dropped.push_back(std::move(pending.front()));
            pending.pop_front();
        }
        pending.push_back(std::move(buffer));
        wasDraining = std::exchange(storage_->isDraining, true);
    }
    return !wasDraining;
}

asio::awaitable<void> StreamingAudioDispatcher::drain() const {
    return drain(storage_, submitBuffer_);
}

asio::awaitable<void> StreamingAudioDispatcher::drain(std::shared_ptr<Storage> storage,
                                                      SubmitBuffer submitBuffer) {
    for (;;) {
        Buffer buffer;
        {
            std::lock_guard lock(storage->lock);
            if (storage->pendingBuffers.empty()) {
                storage->isDraining = false;
                co_return;
            }
            buffer = std::move(storage->pendingBuffers.front());
            storage->pendingBuffers.pop_front();
        }
        try {
            co_await submitBuffer(std::move(buffer));
        } catch (...) {
            // A consumer that fails loses that buffer only; the mailbox keeps working.
        }
    }
}

void StreamingAudioDispatcher::submitAndDrain(Buffer buffer) const {
    if (submit(std::move(buffer))) {
        asio::co_spawn(drainExecutor_, drain(storage_, submitBuffer_), asio::detached);
    }
}

void StreamingAudioDispatcher::discardPending() const {
    std::deque<Buffer> discarded;
    std::lock_guard lock(storage_->lock);
    discarded.swap(storage_->pendingBuffers);
}

std::size_t StreamingAudioDispatcher::pendingCount() const {
    std::lock_guard lock(storage_->lock);
    return storage_->pendingBuffers.size();
}

bool StreamingAudioDispatcher::isDraining() const {
    std::lock_guard lock(storage_->lock);
    return storage_->isDraining;
}

}  // namespace quillbridge
