#include "bridge/QueuedPersonaVirtualCameraFeeder.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>

#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

namespace {

namespace Ids = CameraDeviceIdentifiers;

// The canonical frames kept for reuse: the sink's room plus the deferred frames and the one being prepared.
constexpr std::size_t maximumPooledFrameCount = 8;

}  // namespace

std::shared_ptr<QueuedPersonaVirtualCameraFeeder> QueuedPersonaVirtualCameraFeeder::create(
    asio::any_io_executor queue, Clock& clock, std::unique_ptr<PersonaCameraSink> sink) {
    return std::shared_ptr<QueuedPersonaVirtualCameraFeeder>(
        new QueuedPersonaVirtualCameraFeeder(std::move(queue), clock, std::move(sink)));
}

QueuedPersonaVirtualCameraFeeder::QueuedPersonaVirtualCameraFeeder(asio::any_io_executor queue, Clock& clock,
                                                                   std::unique_ptr<PersonaCameraSink> sink)
    : queue_(std::move(queue)), clock_(clock), sink_(std::move(sink)) {}

QueuedPersonaVirtualCameraFeeder::~QueuedPersonaVirtualCameraFeeder() {
    retryWorkItem_.cancel();
    // The connection goes first: it stops the stream and its scheduled-output handler before the sink goes.
    connection_.reset();
}

bool QueuedPersonaVirtualCameraFeeder::enqueue(DecodedPersonaCameraFrame frame) {
    std::lock_guard lock(inputStorage_.lock);
    inputStorage_.newestPendingSampleBuffer = std::move(frame);
    const bool wasDraining = std::exchange(inputStorage_.isDraining, true);
    return !wasDraining;
}

void QueuedPersonaVirtualCameraFeeder::scheduleDrain() {
    asio::post(queue_, [weak = weak_from_this()] {
        if (auto self = weak.lock())
            self->drainPendingInput();
    });
}

void QueuedPersonaVirtualCameraFeeder::submit(DecodedPersonaCameraFrame frame) {
    if (enqueue(std::move(frame)))
        scheduleDrain();
}

void QueuedPersonaVirtualCameraFeeder::setWantsToFeed(bool wantsToFeed) {
    if (!wantsToFeed) {
        std::lock_guard lock(inputStorage_.lock);
        inputStorage_.newestPendingSampleBuffer.reset();
    }
    asio::post(queue_, [weak = weak_from_this(), wantsToFeed] {
        if (auto self = weak.lock())
            self->applyWantsToFeed(wantsToFeed);
    });
}

void QueuedPersonaVirtualCameraFeeder::applyWantsToFeed(bool wantsToFeed) {
    wantsToFeed_ = wantsToFeed;
    retryWorkItem_ = Task();
    if (wantsToFeed)
        connect();
    else
        disconnect();
}

bool QueuedPersonaVirtualCameraFeeder::connect() {
    if (!wantsToFeed_)
        return false;
    if (connection_)
        return true;
    auto connected = sink_->connect([weak = weak_from_this(), queue = queue_](std::uint64_t sequenceNumber) {
        asio::post(queue, [weak, sequenceNumber] {
            if (auto self = weak.lock())
                self->scheduledOutput(sequenceNumber);
        });
    });
    if (!connected) {
        using Kind = PersonaCameraSinkConnectError::Kind;
        const PersonaCameraSinkConnectError& failure = connected.error();
        switch (failure.kind) {
            case Kind::deviceNotFound:
                break;
            case Kind::queueUnavailable:
                logger_.error("Could not open Persona camera sink queue: ", failure.status);
                break;
            case Kind::scheduledOutputRegistrationFailed:
                logger_.error("Could not register for Persona camera scheduled output: ", failure.status);
                break;
            case Kind::startFailed:
                logger_.error("Could not start Persona camera sink stream: ", failure.status);
                break;
        }
        scheduleRetry();
        return false;
    }
    connection_ = std::move(*connected);
    return true;
}

void QueuedPersonaVirtualCameraFeeder::scheduleRetry() {
    if (!wantsToFeed_ || retryWorkItem_.isRunning())
        return;
    retryWorkItem_ = Task::spawn(
        queue_,
        [weak = weak_from_this(), &clock = clock_]() -> asio::awaitable<void> {
            co_await clock.sleepFor(retryInterval);
            auto self = weak.lock();
            if (!self)
                co_return;
            // This task ends here; forgetting it lets connect() schedule the next one.
            Task finished = std::exchange(self->retryWorkItem_, Task());
            self->connect();
        },
        "persona camera feeder retry");
}

void QueuedPersonaVirtualCameraFeeder::disconnect() {
    // Destroying the connection stops the stream, removes the scheduled-output handler and releases the
    // frames left in the sink's queue.
    connection_.reset();
    retryWorkItem_ = Task();
    pendingSampleBuffers_.clear();
    didLogPersonaPreparationFailure_ = false;
    didLogUnacknowledgedSample_ = false;
}

void QueuedPersonaVirtualCameraFeeder::drainPendingInput() {
    for (;;) {
        std::optional<DecodedPersonaCameraFrame> frame;
        {
            std::lock_guard lock(inputStorage_.lock);
            frame = std::exchange(inputStorage_.newestPendingSampleBuffer, std::nullopt);
            if (!frame) {
                inputStorage_.isDraining = false;
                return;
            }
        }
        if (!wantsToFeed_ || !connect() || !hasRoom())
            continue;
        auto sample = makeCanonicalSample(*frame);
        if (!sample)
            continue;
        enqueueTimed(std::move(sample));
    }
}

bool QueuedPersonaVirtualCameraFeeder::hasRoom() {
    forgetUnacknowledgedSamples();
    const std::size_t capacity = std::max<std::uint32_t>(connection_ ? connection_->capacity() : 1, 1);
    return pendingSampleBuffers_.size() + deferredSampleCount_ < capacity;
}

void QueuedPersonaVirtualCameraFeeder::forgetUnacknowledgedSamples() {
    const Clock::TimePoint now = clock_.now();
    // Sequence numbers grow with time: the oldest frames come first.
    while (!pendingSampleBuffers_.empty()) {
        const auto oldest = pendingSampleBuffers_.begin();
        if (now - oldest->second.enqueuedAt < acknowledgementTimeout)
            break;
        if (!didLogUnacknowledgedSample_) {
            didLogUnacknowledgedSample_ = true;
            logger_.notice("Persona camera frame ", oldest->first,
                           " was not acknowledged; no longer waiting for it");
        }
        pendingSampleBuffers_.erase(oldest);
    }
}

std::shared_ptr<PersonaCameraSinkFrame> QueuedPersonaVirtualCameraFeeder::makeCanonicalSample(
    const DecodedPersonaCameraFrame& frame) {
    if (frame.lumaPlane.empty() || frame.chromaPlane.empty()) {
        reportPreparationFailure("Could not access the decoded image or canonical sink resources");
        return nullptr;
    }
    if (frame.width != int(Ids::widthPixels) || frame.height != int(Ids::heightPixels)) {
        reportPreparationFailure(
            "Decoded Persona frame does not match the virtual camera's 1920×1080 420v sink format");
        return nullptr;
    }
    // Both planes as rows: the source at its own packing, the canonical frame at the camera's.
    const std::size_t sourceLumaRowBytes = std::size_t(frame.width);
    const std::size_t sourceChromaRowBytes = std::size_t(frame.chromaRowByteCount());
    const std::size_t sourceLumaRows = frame.lumaPlane.size() / sourceLumaRowBytes;
    const std::size_t sourceChromaRows = frame.chromaPlane.size() / sourceChromaRowBytes;
    if (sourceLumaRows < std::size_t(frame.height) ||
        sourceChromaRows < std::size_t(frame.chromaRowCount())) {
        reportPreparationFailure("Could not copy the decoded Persona image into a canonical sink buffer: 0");
        return nullptr;
    }
    auto sample = takePooledFrame();
    sample->planes.resize(Ids::frameByteCount);
    struct Plane {
        const std::uint8_t* source;
        std::size_t sourceRowBytes;
        std::size_t sourceRows;
        std::uint8_t* destination;
        std::size_t destinationRowBytes;
        std::size_t destinationRows;
    };
    const Plane planes[] = {
        {frame.lumaPlane.data(), sourceLumaRowBytes, std::size_t(frame.height), sample->planes.data(),
         Ids::lumaRowByteCount, Ids::heightPixels},
        {frame.chromaPlane.data(), sourceChromaRowBytes, std::size_t(frame.chromaRowCount()),
         sample->planes.data() + Ids::lumaByteCount, Ids::chromaRowByteCount, Ids::chromaRowCount},
    };
    for (const Plane& plane : planes) {
        const std::size_t rows = std::min(plane.sourceRows, plane.destinationRows);
        const std::size_t rowBytes = std::min(plane.sourceRowBytes, plane.destinationRowBytes);
        for (std::size_t row = 0; row < rows; ++row)
            std::memcpy(plane.destination + row * plane.destinationRowBytes,
                        plane.source + row * plane.sourceRowBytes, rowBytes);
    }
    sample->durationNanoseconds =
        frame.durationNanoseconds > 0 ? frame.durationNanoseconds : defaultFrameDurationNanoseconds;
    sample->presentationTimeNanoseconds =
        frame.presentationTimeNanoseconds > 0 ? frame.presentationTimeNanoseconds : nowNanoseconds();
    sample->sequenceNumber = 0;
    sample->isDiscontinuity = false;
    didLogPersonaPreparationFailure_ = false;
    return sample;
}

void QueuedPersonaVirtualCameraFeeder::reportPreparationFailure(const std::string& text) {
    if (didLogPersonaPreparationFailure_)
        return;
    didLogPersonaPreparationFailure_ = true;
    logger_.error(text);
}

void QueuedPersonaVirtualCameraFeeder::enqueueTimed(std::shared_ptr<PersonaCameraSinkFrame> sample) {
    const std::int64_t leadNanoseconds = sample->presentationTimeNanoseconds - nowNanoseconds();
    const std::int64_t maximumLeadNanoseconds =
        std::chrono::duration_cast<std::chrono::nanoseconds>(maximumDeferral).count();
    if (leadNanoseconds <= 0 || leadNanoseconds > maximumLeadNanoseconds) {
        enqueueToSink(std::move(sample));
        return;
    }
    ++deferredSampleCount_;
    asio::co_spawn(
        queue_,
        [weak = weak_from_this(), &clock = clock_, sample = std::move(sample),
         lead = std::chrono::nanoseconds(leadNanoseconds)]() mutable -> asio::awaitable<void> {
            try {
                co_await clock.sleepFor(std::chrono::duration_cast<Clock::Duration>(lead));
            } catch (...) {
                // The clock went away with its owner; the sample is simply dropped.
            }
            if (auto self = weak.lock()) {
                --self->deferredSampleCount_;
                if (self->wantsToFeed_ && self->connect() && self->hasRoom())
                    self->enqueueToSink(std::move(sample));
            }
        },
        asio::detached);
}

void QueuedPersonaVirtualCameraFeeder::enqueueToSink(std::shared_ptr<PersonaCameraSinkFrame> sample) {
    if (!wantsToFeed_ || !connection_ || !hasRoom())
        return;
    const std::uint64_t sequenceNumber = nextSequenceNumber_++;
    sample->sequenceNumber = sequenceNumber;
    sample->isDiscontinuity = false;
    std::shared_ptr<const PersonaCameraSinkFrame> queued = std::move(sample);
    pendingSampleBuffers_.emplace(sequenceNumber, PendingSample{queued, clock_.now()});
    if (const int status = connection_->enqueue(std::move(queued)); status != 0) {
        pendingSampleBuffers_.erase(sequenceNumber);
        logger_.error("Persona camera sink enqueue failed: ", status);
    }
}

void QueuedPersonaVirtualCameraFeeder::scheduledOutput(std::uint64_t sequenceNumber) {
    pendingSampleBuffers_.erase(sequenceNumber);
}

std::shared_ptr<PersonaCameraSinkFrame> QueuedPersonaVirtualCameraFeeder::takePooledFrame() {
    for (const auto& frame : sinkFramePool_) {
        if (frame.use_count() == 1)
            return frame;
    }
    auto frame = std::make_shared<PersonaCameraSinkFrame>();
    if (sinkFramePool_.size() < maximumPooledFrameCount)
        sinkFramePool_.push_back(frame);
    return frame;
}

std::int64_t QueuedPersonaVirtualCameraFeeder::nowNanoseconds() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(clock_.now().time_since_epoch()).count();
}

}  // namespace quillbridge
