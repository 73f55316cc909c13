#include <algorithm>
#include <cmath>
#include <utility>

#include <asio/this_coro.hpp>

#include "core/FrameStageTrace.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "session/VideoCompressionSupport.hpp"
#include "wire/ControlMessageFraming.hpp"
#include "wire/InboundStreamKind.hpp"
#include "wire/VideoFrameStreamHeader.hpp"

// The video path: the encoder and its flow control, encoder outputs, and the media stream with its single
// ordered send loop.

namespace quillbridge {

namespace {

bool sameFormatMessage(const VideoFormatDescriptionMessage& a, const VideoFormatDescriptionMessage& b) {
    return a.codec == b.codec && a.width == b.width && a.height == b.height && a.pointWidth == b.pointWidth &&
           a.pointHeight == b.pointHeight && a.nalUnitHeaderLength == b.nalUnitHeaderLength &&
           a.parameterSets == b.parameterSets && a.colorProperties == b.colorProperties;
}

// Frames that may be sent but not yet acknowledged by the headset: 8% of a second's frames, at least 2.
std::uint64_t outstandingFrameLimit(int frameRate) {
    const auto limit = static_cast<std::int64_t>(std::ceil(static_cast<double>(frameRate) * 0.08));
    return static_cast<std::uint64_t>(std::max<std::int64_t>(2, limit));
}

// Frames that may be inside the encoder at once.
int inFlightFrameLimit(int frameRate) {
    return frameRate <= 60 ? 1 : 3;
}

}  // namespace

// Public entry points.

asio::awaitable<void> ScreenStreamBroadcaster::encodeOrDeferVideoFrame(
    std::shared_ptr<const CapturedVideoFrame> frame) {
    auto self = shared_from_this();
    // A named function object: a temporary with captures inside the co_await expression is destroyed twice
    // by this compiler.
    auto work = [this, frame] { encodeOrDeferVideoFrameOnActor(frame); };
    co_await actor_.call(std::move(work));
}

asio::awaitable<void> ScreenStreamBroadcaster::completePendingFrames() {
    auto self = shared_from_this();
    co_await actor_.call([this] {
        if (compressionSession_) {
            // At most three frames are inside the encoder, so this waits a few frame times at worst.
            compressionSession_->flush();
        }
    });
}

asio::awaitable<void> ScreenStreamBroadcaster::updateCapturedDisplay(CapturedDisplay display) {
    auto self = shared_from_this();
    auto work = [this, display] { updateCapturedDisplayOnActor(display); };
    co_await actor_.call(std::move(work));
}

asio::awaitable<void> ScreenStreamBroadcaster::setVideoCodec(StreamCodec codec) {
    auto self = shared_from_this();
    co_await actor_.call([this, codec] {
        if (codec == pendingVideoCodec_.value_or(videoCodec_)) {
            return;
        }
        pendingVideoCodec_ = codec;
        requestVideoEncodingPipelineResetOnActor(true);
    });
}

asio::awaitable<void> ScreenStreamBroadcaster::requestVideoEncodingPipelineReset(bool dropDeferredFrame) {
    auto self = shared_from_this();
    co_await actor_.call(
        [this, dropDeferredFrame] { requestVideoEncodingPipelineResetOnActor(dropDeferredFrame); });
}

// The encoder.

bool ScreenStreamBroadcaster::makeCompressionSession(
    std::uint32_t width, std::uint32_t height, std::uint32_t pixelFormat,
    const std::optional<VideoColorProperties>& colorProperties) {
    if (!dependencies_.videoEncoderFactory) {
        logger_.error("No video encoder is available");
        return false;
    }
    VideoEncoderConfiguration configuration;
    configuration.codec = videoCodec_;
    configuration.width = width;
    configuration.height = height;
    configuration.inputPixelFormat = pixelFormat;
    configuration.frameRate = frameRate_;
    configuration.averageBitRate = recommendedBitrate(width, height, frameRate_);
    configuration.colorProperties = colorProperties;
    std::weak_ptr<ScreenStreamBroadcaster> weakSelf = weak_from_this();
    auto encoder = dependencies_.videoEncoderFactory->makeEncoder(
        configuration, actor_.executor(), [weakSelf](VideoEncoderOutput output) {
            if (auto self = weakSelf.lock()) {
                self->receiveEncoderOutput(std::move(output));
            }
        });
    if (!encoder) {
        logger_.error("Video encoder creation failed with status ", encoder.error().status);
        return false;
    }
    if (compressionSession_) {
        compressionSession_->close();
    }
    compressionSession_ = std::move(*encoder);
    return true;
}

void ScreenStreamBroadcaster::invalidateCompressionSession() {
    ++compressionSessionGeneration_;
    if (compressionSession_) {
        compressionSession_->close();
        compressionSession_.reset();
    }
    lastFormatMessage_.reset();
    framesInFlight_ = 0;
}

// Flow control.

std::uint64_t ScreenStreamBroadcaster::unacknowledgedFrameCount() const {
    if (!highestReceivedFrameID_) {
        return nextSentFrameID_;
    }
    if (*highestReceivedFrameID_ + 1 >= nextSentFrameID_) {
        return 0;
    }
    return nextSentFrameID_ - *highestReceivedFrameID_ - 1;
}

std::uint64_t ScreenStreamBroadcaster::outstandingFrameCount() const {
    return unacknowledgedFrameCount() + static_cast<std::uint64_t>(std::max(framesInFlight_, 0));
}

bool ScreenStreamBroadcaster::isVideoEncodingPipelineIdle() const {
    return framesInFlight_ == 0 && unacknowledgedFrameCount() == 0 && pendingMediaFrames_.empty();
}

// Submission.

void ScreenStreamBroadcaster::encodeOrDeferVideoFrameOnActor(
    std::shared_ptr<const CapturedVideoFrame> frame) {
    if (!frame) {
        return;
    }
    FrameStageTrace::stamp(FrameStage::broadcasterIn, frame->presentationTimeNanoseconds);
    lastCapturedVideoFrame_ = frame;
    if (encodeVideoFrame(*frame) == VideoEncodeResult::encoded) {
        deferredVideoSampleBuffer_.reset();
    } else {
        deferredVideoSampleBuffer_ = std::move(frame);
    }
}

void ScreenStreamBroadcaster::retryDeferredVideoSampleBuffer() {
    if (!deferredVideoSampleBuffer_) {
        return;
    }
    auto frame = deferredVideoSampleBuffer_;
    if (encodeVideoFrame(*frame) == VideoEncodeResult::encoded && deferredVideoSampleBuffer_ == frame) {
        deferredVideoSampleBuffer_.reset();
    }
}

ScreenStreamBroadcaster::VideoEncodeResult ScreenStreamBroadcaster::encodeVideoFrame(
    const CapturedVideoFrame& frame) {
    // 1.
    if (!frame.imageBuffer) {
        return VideoEncodeResult::noImageBuffer;
    }
    // 2.
    if (isVideoEncodingPipelineResetPending_) {
        return VideoEncodeResult::pipelineBusy;
    }
    // 3.
    if (outstandingFrameCount() >= outstandingFrameLimit(frameRate_)) {
        return VideoEncodeResult::tooManyOutstandingFrames;
    }
    // 4. Pixels without a format description are not something the capture side hands over: skipped.
    if (!frame.formatDescription) {
        return VideoEncodeResult::noImageBuffer;
    }
    const std::pair<std::uint32_t, std::uint32_t> size{frame.formatDescription->width,
                                                       frame.formatDescription->height};
    const std::uint32_t pixelFormat = frame.imageBuffer->pixelFormat;
    auto colorProperties = VideoColorProperties::fromCapturedFrame(frame);
    // 5.
    const bool sizeChanged = !encodedSize_ || *encodedSize_ != size;
    const bool formatChanged = !sizeChanged && (!inputPixelFormat_ || *inputPixelFormat_ != pixelFormat);
    const bool colorChanged =
        !sizeChanged && !formatChanged && !sameColorProperties(colorProperties, activeColorProperties_);
    if (sizeChanged || formatChanged || colorChanged) {
        if (!isVideoEncodingPipelineIdle()) {
            requestVideoEncodingPipelineResetOnActor(false);
            return VideoEncodeResult::pipelineBusy;
        }
        invalidateCompressionSession();
        if (sizeChanged) {
            encodedSize_ = size;
        }
        inputPixelFormat_ = pixelFormat;
        activeColorProperties_ = colorProperties;
        forceNextKeyFrame_ = true;
    }
    // 6. No encoder is built without a headset: a frame the capture hands over after the session ended
    // waits as the deferred one rather than keep an encoder and its buffers until the next session.
    if (!compressionSession_ && !connection_) {
        return VideoEncodeResult::sessionUnavailable;
    }
    if (!compressionSession_ &&
        !makeCompressionSession(size.first, size.second, pixelFormat, colorProperties)) {
        return VideoEncodeResult::sessionUnavailable;
    }
    // 7.
    if (framesInFlight_ >= inFlightFrameLimit(frameRate_)) {
        return VideoEncodeResult::pipelineBusy;
    }
    // 8.
    const bool forceKeyFrame = forceNextKeyFrame_;
    forceNextKeyFrame_ = false;
    ++framesInFlight_;
    // 9.
    VideoEncoderInput input;
    input.pixels = frame.imageBuffer;
    input.presentationTimeNanoseconds = frame.presentationTimeNanoseconds;
    input.durationNanoseconds = frame.durationNanoseconds;
    input.forceKeyFrame = forceKeyFrame;
    input.generation = compressionSessionGeneration_;
    if (compressionSession_->encode(std::move(input))) {
        return VideoEncodeResult::encoded;
    }
    // 10. The key frame asked for must not be lost with the refused frame.
    framesInFlight_ = std::max(framesInFlight_ - 1, 0);
    forceNextKeyFrame_ = forceNextKeyFrame_ || forceKeyFrame;
    logger_.error("Video encoder refused a frame of ", size.first, "x", size.second);
    return VideoEncodeResult::encodeFailed;
}

// Queues the newest captured frame again when nothing newer waits, so that a screen that no longer changes
// still reaches the headset; any newer captured frame replaces it before it is encoded.
void ScreenStreamBroadcaster::deferLastCapturedVideoFrame() {
    if (!deferredVideoSampleBuffer_) {
        deferredVideoSampleBuffer_ = lastCapturedVideoFrame_;
    }
}

// Resets.

void ScreenStreamBroadcaster::requestVideoEncodingPipelineResetOnActor(bool dropDeferredFrame) {
    if (dropDeferredFrame) {
        deferredVideoSampleBuffer_.reset();
    }
    forceNextKeyFrame_ = true;
    isVideoEncodingPipelineResetPending_ = true;
    if (isVideoEncodingPipelineIdle()) {
        applyVideoEncodingPipelineReset();
        retryDeferredVideoSampleBuffer();
    }
}

void ScreenStreamBroadcaster::applyPendingVideoEncodingPipelineResetIfIdle() {
    if (isVideoEncodingPipelineResetPending_ && isVideoEncodingPipelineIdle()) {
        applyVideoEncodingPipelineReset();
    }
}

void ScreenStreamBroadcaster::discardCompressionSession() {
    isVideoEncodingPipelineResetPending_ = false;
    invalidateCompressionSession();
    if (pendingVideoCodec_) {
        videoCodec_ = *pendingVideoCodec_;
        pendingVideoCodec_.reset();
    }
    if (pendingFrameRate_) {
        frameRate_ = *pendingFrameRate_;
        pendingFrameRate_.reset();
    }
    inputPixelFormat_.reset();
    activeColorProperties_.reset();
    encodedSize_.reset();
}

void ScreenStreamBroadcaster::applyVideoEncodingPipelineReset() {
    discardCompressionSession();
    forceNextKeyFrame_ = true;
    // The rebuilt encoder has no picture of the screen until it gets a frame; callers retry it.
    deferLastCapturedVideoFrame();
}

void ScreenStreamBroadcaster::resetVideoEncodingPipeline() {
    discardCompressionSession();
    deferredVideoSampleBuffer_.reset();
    // The next session starts its own capture.
    lastCapturedVideoFrame_.reset();
    // Outputs of the old encoder still waiting are of an old generation; they go too.
    encoderOutputs_.clear();
    forceNextKeyFrame_ = true;
}

void ScreenStreamBroadcaster::updateCapturedDisplayOnActor(const CapturedDisplay& display) {
    const bool geometryChanged = display.frame != capturedDisplay_.frame ||
                                 display.pointWidth != capturedDisplay_.pointWidth ||
                                 display.pointHeight != capturedDisplay_.pointHeight;
    const int effectiveFrameRate = std::max(display.frameRate, 1);
    const int currentFrameRate = pendingFrameRate_.value_or(frameRate_);
    const bool needsReset = display.displayID != capturedDisplay_.displayID ||
                            display.pointWidth != capturedDisplay_.pointWidth ||
                            display.pointHeight != capturedDisplay_.pointHeight ||
                            display.pixelWidth != capturedDisplay_.pixelWidth ||
                            display.pixelHeight != capturedDisplay_.pixelHeight ||
                            effectiveFrameRate != currentFrameRate;
    if (display.displayID != capturedDisplay_.displayID ||
        display.pixelWidth != capturedDisplay_.pixelWidth ||
        display.pixelHeight != capturedDisplay_.pixelHeight) {
        // A picture of another display or size must not stand in for the new one.
        lastCapturedVideoFrame_.reset();
    }
    capturedDisplay_ = display;
    capturedDisplay_.frameRate = effectiveFrameRate;
    if (effectiveFrameRate != currentFrameRate) {
        pendingFrameRate_ = effectiveFrameRate;
    }
    if (dependencies_.remoteInput) {
        dependencies_.remoteInput->setCapturedDisplayFrame(display.frame);
    }
    if (geometryChanged && controlStream_) {
        const auto [pointWidth, pointHeight] = roundedPointSize(display.pointWidth, display.pointHeight);
        auto message = StreamControlMessage::make<StreamControlMessage::Case::displayGeometry>(
            DisplayGeometryMessage{pointWidth, pointHeight});
        auto self = shared_from_this();
        spawnDetached("display geometry", [self, message]() -> asio::awaitable<void> {
            try {
                co_await self->sendControlMessageOnActor(message);
            } catch (...) {
                // The next geometry change sends the size again; the session goes on.
            }
        });
    }
    if (needsReset) {
        requestVideoEncodingPipelineResetOnActor(true);
    }
}

// Encoder outputs.

void ScreenStreamBroadcaster::receiveEncoderOutput(VideoEncoderOutput output) {
    if (output.generation != compressionSessionGeneration_) {
        return;
    }
    encoderOutputs_.push_back(std::move(output));
    if (encoderOutputTask_.isFinished()) {
        auto self = shared_from_this();
        encoderOutputTask_ = Task::spawn(
            actor_.executor(), [self]() -> asio::awaitable<void> { co_await self->runEncoderOutputLoop(); },
            "video encoder outputs");
    }
}

asio::awaitable<void> ScreenStreamBroadcaster::runEncoderOutputLoop() {
    while (!encoderOutputs_.empty()) {
        auto output = std::move(encoderOutputs_.front());
        encoderOutputs_.pop_front();
        co_await handleEncodedFrame(std::move(output));
        if (isCancelled(co_await asio::this_coro::cancellation_state)) {
            co_return;
        }
    }
}

asio::awaitable<void> ScreenStreamBroadcaster::handleEncodedFrame(VideoEncoderOutput output) {
    const std::uint64_t generation = output.generation;
    // 1.
    if (generation != compressionSessionGeneration_) {
        co_return;
    }
    if (!output.succeeded) {
        // 2.
        logger_.error("Video encoder failed to encode a frame");
    } else if (output.sample) {
        auto& sample = *output.sample;
        // 4.
        auto formatMessage =
            makeVideoFormatDescriptionMessage(sample.format.get(), activeColorProperties_,
                                              capturedDisplay_.pointWidth, capturedDisplay_.pointHeight);
        if (formatMessage &&
            (!lastFormatMessage_ || !sameFormatMessage(*formatMessage, *lastFormatMessage_))) {
            lastFormatMessage_ = formatMessage;
            if (controlStream_) {
                try {
                    co_await sendControlMessageOnActor(
                        StreamControlMessage::make<StreamControlMessage::Case::videoFormat>(*formatMessage));
                } catch (...) {
                    // The frame still goes out; the headset asks for a key frame if it cannot decode it.
                }
                if (isCancelled(co_await asio::this_coro::cancellation_state) ||
                    generation != compressionSessionGeneration_) {
                    co_return;
                }
            }
            forceNextKeyFrame_ = true;
        }
        // 5.
        if (!sample.payload.empty()) {
            if (connection_ && controlStream_ && isReceiverReady_) {
                EncodedVideoFrame frame;
                frame.frameID = nextSentFrameID_++;
                frame.presentationTimeNanoseconds = sample.presentationTimeNanoseconds;
                frame.isKeyFrame = sample.isKeyFrame;
                frame.payload = std::move(sample.payload);
                FrameStageTrace::stamp(FrameStage::mediaQueueIn, frame.presentationTimeNanoseconds);
                pendingMediaFrames_.push_back(std::move(frame));
                startMediaSendTaskIfNeeded();
            }
        }
    }
    // 6.
    if (generation == compressionSessionGeneration_) {
        framesInFlight_ = std::max(framesInFlight_ - 1, 0);
        applyPendingVideoEncodingPipelineResetIfIdle();
        retryDeferredVideoSampleBuffer();
    }
}

// The media stream.

void ScreenStreamBroadcaster::startMediaSendTaskIfNeeded() {
    if (!mediaSendTask_.isFinished()) {
        return;
    }
    auto self = shared_from_this();
    mediaSendTask_ = Task::spawn(
        actor_.executor(), [self]() -> asio::awaitable<void> { co_await self->runMediaSendLoop(); },
        "media send loop");
}

asio::awaitable<void> ScreenStreamBroadcaster::openMediaStream() {
    const Uuid sessionID = sessionID_;
    co_await openMediaStream(sessionID);
}

// `sessionID` must outlive the call: callers pass a copy of their own.
asio::awaitable<void> ScreenStreamBroadcaster::openMediaStream(const Uuid& sessionID) {
    auto self = shared_from_this();
    if (sessionID_ != sessionID) {
        throw std::system_error(std::make_error_code(std::errc::operation_canceled));
    }
    if (mediaStream_ || !connection_) {
        co_return;
    }
    auto connection = connection_;
    auto stream = co_await connection->openStream(QuicStreamDirectionality::unidirectional);
    Bytes kind(1, wireByte(InboundStreamKind::video));
    co_await stream->send(std::move(kind), false);
    if (sessionID_ != sessionID || isCancelled(co_await asio::this_coro::cancellation_state)) {
        throw std::system_error(std::make_error_code(std::errc::operation_canceled));
    }
    mediaStream_ = std::move(stream);
}

asio::awaitable<void> ScreenStreamBroadcaster::runMediaSendLoop() {
    auto self = shared_from_this();
    const Uuid sessionID = sessionID_;
    std::exception_ptr failure;
    try {
        while (sessionID_ == sessionID && !pendingMediaFrames_.empty()) {
            co_await openMediaStream(sessionID);
            if (isCancelled(co_await asio::this_coro::cancellation_state) || sessionID_ != sessionID ||
                !mediaStream_) {
                break;
            }
            auto frame = std::move(pendingMediaFrames_[pendingMediaFrameStartIndex_]);
            ++pendingMediaFrameStartIndex_;
            compactPendingMediaFrames();
            auto header = VideoFrameStreamHeader::forHostFrame(frame);
            if (!header) {
                // A payload too long for the header's byte count cannot be framed; the headset asks for a
                // key frame when it notices the gap.
                logger_.error("Encoded frame ", frame.frameID, " of ", frame.payload.size(),
                              " bytes is too large to send");
                continue;
            }
            // Each send is awaited before the next, so frames leave in queue order with every header
            // directly followed by its payload; the payload is handed over without a copy.
            auto stream = mediaStream_;
            FrameStageTrace::stamp(FrameStage::handedToQuic, frame.presentationTimeNanoseconds);
            co_await stream->send(header->encodedData(), false);
            co_await stream->send(std::move(frame.payload), false);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure || isCancelled(co_await asio::this_coro::cancellation_state) || sessionID_ != sessionID) {
        // A cancelled loop leaves everything to whoever cancelled it; the frame being sent is lost.
        co_return;
    }
    if (handleTransportError(failure)) {
        mediaStream_.reset();
    } else {
        startConnectionLostTeardown(failure);
    }
}

void ScreenStreamBroadcaster::compactPendingMediaFrames() {
    const std::size_t start = pendingMediaFrameStartIndex_;
    if (start == 0) {
        return;
    }
    if (start == pendingMediaFrames_.size()) {
        pendingMediaFrames_.clear();
        pendingMediaFrameStartIndex_ = 0;
        return;
    }
    if (start >= 32 && start >= pendingMediaFrames_.size() / 2) {
        pendingMediaFrames_.erase(pendingMediaFrames_.begin(),
                                  pendingMediaFrames_.begin() + static_cast<std::ptrdiff_t>(start));
        pendingMediaFrameStartIndex_ = 0;
    }
}

}  // namespace quillbridge
