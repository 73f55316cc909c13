#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "bridge/DecodedPersonaCameraFrame.hpp"
#include "bridge/PersonaCameraSink.hpp"
#include "bridge/PersonaVirtualCameraFeeder.hpp"
#include "core/Clock.hpp"
#include "core/Logger.hpp"
#include "core/Task.hpp"

namespace quillbridge {

// Moves decoded Persona frames into the virtual camera's sink while an app uses the camera. Only the newest
// undelivered frame is held (a producer never waits); frames are copied into the camera's one format
// (1920 x 1080 NV12, never scaled or converted) and queued on the sink at their presentation time, at most as
// many at a time as the sink holds. While the camera cannot be reached the connection is retried every
// second.
//
// Everything but the input slot runs on the feeder's queue (a serial executor given at creation); deferred
// work holds the feeder weakly and does nothing once it is gone. Create it with create().
class QueuedPersonaVirtualCameraFeeder final
    : public PersonaVirtualCameraFeeder,
      public std::enable_shared_from_this<QueuedPersonaVirtualCameraFeeder> {
public:
    static constexpr std::chrono::milliseconds retryInterval{1000};
    // A frame due later than this is queued at once: presentation leads are at most 120 ms, and a wrong clock
    // offset must not make frames wait (holding their buffers) without end.
    static constexpr std::chrono::milliseconds maximumDeferral{250};
    static constexpr std::int64_t defaultFrameDurationNanoseconds = 1'000'000'000 / 30;
    // A queued frame the camera has not acknowledged after this long no longer counts against the sink's
    // room: a sink can lose a frame without a word (a buffer the platform never delivers, a camera program
    // that restarts), and a few such frames must not close the feed for good. Acknowledgements come within a
    // few frame intervals.
    static constexpr std::chrono::milliseconds acknowledgementTimeout{500};

    static std::shared_ptr<QueuedPersonaVirtualCameraFeeder> create(asio::any_io_executor queue, Clock& clock,
                                                                    std::unique_ptr<PersonaCameraSink> sink);
    ~QueuedPersonaVirtualCameraFeeder() override;

    // From any thread: stores the frame as the newest pending one (an undelivered older one is dropped).
    // True when no drain is under way: the caller must then call scheduleDrain().
    bool enqueue(DecodedPersonaCameraFrame frame);
    // Drains the pending input on the queue, later.
    void scheduleDrain();
    // enqueue(), then scheduleDrain() when needed.
    void submit(DecodedPersonaCameraFrame frame);

    void setWantsToFeed(bool wantsToFeed) override;

    // For tests: read on the queue.
    std::size_t pendingSampleCount() const { return pendingSampleBuffers_.size(); }
    std::size_t deferredSampleCount() const { return deferredSampleCount_; }
    bool isConnected() const { return connection_ != nullptr; }
    std::uint64_t nextSequenceNumber() const { return nextSequenceNumber_; }

private:
    QueuedPersonaVirtualCameraFeeder(asio::any_io_executor queue, Clock& clock,
                                     std::unique_ptr<PersonaCameraSink> sink);

    // Each runs on the queue.
    void applyWantsToFeed(bool wantsToFeed);
    bool connect();
    void scheduleRetry();
    void disconnect();
    void drainPendingInput();
    bool hasRoom();
    void forgetUnacknowledgedSamples();
    std::shared_ptr<PersonaCameraSinkFrame> makeCanonicalSample(const DecodedPersonaCameraFrame& frame);
    void reportPreparationFailure(const std::string& text);
    void enqueueTimed(std::shared_ptr<PersonaCameraSinkFrame> sample);
    void enqueueToSink(std::shared_ptr<PersonaCameraSinkFrame> sample);
    void scheduledOutput(std::uint64_t sequenceNumber);
    std::shared_ptr<PersonaCameraSinkFrame> takePooledFrame();
    std::int64_t nowNanoseconds() const;

    struct InputStorage {
        std::mutex lock;
        std::optional<DecodedPersonaCameraFrame> newestPendingSampleBuffer;
        bool isDraining = false;
    };

    Logger logger_{"PersonaCameraFeeder"};
    asio::any_io_executor queue_;
    Clock& clock_;
    std::unique_ptr<PersonaCameraSink> sink_;
    InputStorage inputStorage_;

    std::unique_ptr<PersonaCameraSinkConnection> connection_;
    bool wantsToFeed_ = false;
    Task retryWorkItem_;
    std::uint64_t nextSequenceNumber_ = 0;
    struct PendingSample {
        std::shared_ptr<const PersonaCameraSinkFrame> sample;
        Clock::TimePoint enqueuedAt;
    };
    std::map<std::uint64_t, PendingSample> pendingSampleBuffers_;
    // Frames waiting on the queue for their presentation time; they count against the sink's room.
    std::size_t deferredSampleCount_ = 0;
    bool didLogPersonaPreparationFailure_ = false;
    bool didLogUnacknowledgedSample_ = false;
    // Canonical frames for reuse: one whose only owner is this pool is free.
    std::vector<std::shared_ptr<PersonaCameraSinkFrame>> sinkFramePool_;
};

}  // namespace quillbridge
