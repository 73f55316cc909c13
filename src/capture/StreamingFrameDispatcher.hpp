#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "session/CapturedVideoFrame.hpp"

namespace quillbridge {

// The mailbox of captured frames on their way to the session: one slot, the newest frame wins. Producers
// (the capture stream's video thread) never wait: they take a short lock, store the frame and start a
// drain when none runs. At most one drain runs; it hands the consumer the newest frame each time the
// consumer becomes free, outside the lock. Copies share one mailbox.
class StreamingFrameDispatcher {
public:
    using Frame = std::shared_ptr<const CapturedVideoFrame>;
    using SubmitFrame = std::function<asio::awaitable<void>(Frame)>;

    // `drainExecutor` runs the drains the producer starts (a pool, not bound to any actor).
    StreamingFrameDispatcher(asio::any_io_executor drainExecutor, SubmitFrame submitFrame);

    // Stores the frame, replacing one still waiting. True when the caller must start a drain.
    bool submit(Frame frame) const;
    // Hands frames to the consumer until the slot is empty.
    asio::awaitable<void> drain() const;
    // submit(), then starts the drain on the drain executor when one is needed.
    void submitAndDrain(Frame frame) const;
    // Empties the slot; a frame the drain already took is still delivered.
    void discardPending() const;

    // For tests and diagnostics.
    bool hasPendingFrame() const;
    bool isDraining() const;

private:
    struct Storage {
        std::mutex lock;
        Frame latestSampleBuffer;
        bool isDraining = false;
    };

    static asio::awaitable<void> drain(std::shared_ptr<Storage> storage, SubmitFrame submitFrame);

    asio::any_io_executor drainExecutor_;
    SubmitFrame submitFrame_;
    std::shared_ptr<Storage> storage_;
};

}  // namespace quillbridge
