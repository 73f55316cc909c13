#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "session/AudioPCMBuffer.hpp"

namespace quillbridge {

// The mailbox of captured system audio on its way to the session: at most 3 buffers wait, the oldest are
// dropped. Buffers reach the consumer in arrival order, one at a time, from at most one drain, outside the
// lock; producers never wait. Copies share one mailbox.
class StreamingAudioDispatcher {
public:
    using Buffer = std::shared_ptr<const AudioPCMBuffer>;
    using SubmitBuffer = std::function<asio::awaitable<void>(Buffer)>;

    static constexpr std::size_t maximumPendingBuffers = 3;

    StreamingAudioDispatcher(asio::any_io_executor drainExecutor, SubmitBuffer submitBuffer);

    // Queues the buffer (taking the lock once). True when the caller must start a drain.
    bool submit(Buffer buffer) const;
    asio::awaitable<void> drain() const;
    void submitAndDrain(Buffer buffer) const;
    // Empties the queue; a buffer the drain already took is still delivered.
    void discardPending() const;

    std::size_t pendingCount() const;
    bool isDraining() const;

private:
    struct Storage {
        std::mutex lock;
        std::deque<Buffer> pendingBuffers;
        bool isDraining = false;
    };

    static asio::awaitable<void> drain(std::shared_ptr<Storage> storage, SubmitBuffer submitBuffer);

    asio::any_io_executor drainExecutor_;
    SubmitBuffer submitBuffer_;
    std::shared_ptr<Storage> storage_;
};

}  // namespace quillbridge
