#include "session/VideoPipeline.hpp"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <utility>

#include <asio/this_coro.hpp>

#include "core/FrameStageTrace.hpp"
#include "session/VideoCompressionSupport.hpp"
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

void raiseTo(std::optional<std::uint64_t>& stored, const std::optional<std::uint64_t>& reported) {
    if (reported) {
        stored = stored ? std::max(*stored, *reported) : *reported;
    }
}

}  // namespace

VideoPipeline::VideoPipeline(SessionContext& session, const ScreenStreamBroadcasterDependencies& dependencies)
    : session_(session), dependencies_(dependencies) {}

// Capture side.

void VideoPipeline::encodeOrDefer(std::shared_ptr<const CapturedVideoFrame> frame) {
    if (!frame) {
        return;
    }
    FrameStageTrace::stamp(FrameStage::broadcasterIn, frame->presentationTimeNanoseconds);
    lastCapturedVideoFrame_ = frame;
    if (encodeVideoFrame(*frame) == EncodeResult::encoded) {
        deferredVideoSampleBuffer_.reset();
    } else {
        deferredVideoSampleBuffer_ = std::move(frame);
    }
}

void VideoPipeline::completePendingFrames() {
    if (compressionSession_) {
        // At most three frames are inside the encoder, so this waits a few frame times at worst.
        compressionSession_->flush();
    }
}

void VideoPipeline::setCodec(StreamCodec codec) {
    if (codec == pendingVideoCodec_.value_or(videoCodec_)) {
        return;
    }
    pendingVideoCodec_ = codec;
    requestReset(true);
}

void VideoPipeline::setFrameRate(int framesPerSecond) {
    const int frameRate = std::max(framesPerSecond, 1);
    if (frameRate == pendingFrameRate_.value_or(frameRate_)) {
        return;
    }
    pendingFrameRate_ = frameRate;
    requestReset(true);
}

void VideoPipeline::updateCapturedDisplay(const CapturedDisplay& display) {
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
    if (geometryChanged && session_.controlStream()) {
        const auto [pointWidth, pointHeight] = roundedPointSize(display.pointWidth, display.pointHeight);
        auto message = StreamControlMessage::make<StreamControlMessage::Case::displayGeometry>(
            DisplayGeometryMessage{pointWidth, pointHeight});
        session_.spawnDetached(
            "display geometry",
            [keepAlive = session_.keepAlive(), &session = session_, message]() -> asio::awaitable<void> {
                try {
                    co_await session.sendControlMessage(message);
                } catch (...) {
                    // The next geometry change sends the size again; the session goes on.
                }
            });
    }
    if (needsReset) {
        requestReset(true);
    }
}

// The encoder.

bool VideoPipeline::makeCompressionSession(std::uint32_t width, std::uint32_t height,
                                           std::uint32_t pixelFormat,
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
    auto encoder = dependencies_.videoEncoderFactory->makeEncoder(
        configuration, session_.executor(),
        [this, weakSession = session_.weakKeepAlive()](VideoEncoderOutput output) {
            if (auto session = weakSession.lock()) {
                receiveEncoderOutput(std::move(output));
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

void VideoPipeline::invalidateCompressionSession() {
    ++compressionSessionGeneration_;
    if (compressionSession_) {
        compressionSession_->close();
        compressionSession_.reset();
    }
    lastFormatMessage_.reset();
    framesInFlight_ = 0;
}

// Flow control.

std::uint64_t VideoPipeline::unacknowledgedFrameCount() const {
    if (!highestReceivedFrameID_) {
        return nextSentFrameID_;
    }
    if (*highestReceivedFrameID_ + 1 >= nextSentFrameID_) {
        return 0;
    }
    return nextSentFrameID_ - *highestReceivedFrameID_ - 1;
}

std::uint64_t VideoPipeline::outstandingFrameCount() const {
    return unacknowledgedFrameCount() + static_cast<std::uint64_t>(std::max(framesInFlight_, 0));
}

bool VideoPipeline::isIdle() const {
    return framesInFlight_ == 0 && unacknowledgedFrameCount() == 0 && pendingMediaFrames_.empty();
}

void VideoPipeline::noteHighestReceivedFrameID(std::optional<std::uint64_t> reported) {
    raiseTo(highestReceivedFrameID_, reported);
    if (!pendingMediaFrames_.empty() && mediaSendTask_.isFinished()) {
        startMediaSendTaskIfNeeded();
    }
    applyPendingResetIfIdle();
    if (deferredVideoSampleBuffer_) {
        retryDeferredFrame();
    }
}

// Submission.

void VideoPipeline::retryDeferredFrame() {
    if (!deferredVideoSampleBuffer_) {
        return;
    }
    auto frame = deferredVideoSampleBuffer_;
    if (encodeVideoFrame(*frame) == EncodeResult::encoded && deferredVideoSampleBuffer_ == frame) {
        deferredVideoSampleBuffer_.reset();
    }
}

VideoPipeline::EncodeResult VideoPipeline::encodeVideoFrame(const CapturedVideoFrame& frame) {
    // 1.
    if (!frame.imageBuffer) {
        return EncodeResult::noImageBuffer;
    }
    // 2.
    if (isResetPending_) {
        return EncodeResult::pipelineBusy;
    }
    // 3.
    if (outstandingFrameCount() >= outstandingFrameLimit(frameRate_)) {
        return EncodeResult::tooManyOutstandingFrames;
    }
    // 4. Pixels without a format description are not something the capture side hands over: skipped.
    if (!frame.formatDescription) {
        return EncodeResult::noImageBuffer;
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
        if (!isIdle()) {
            requestReset(false);
            return EncodeResult::pipelineBusy;
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
    if (!compressionSession_ && !session_.hasConnection()) {
        return EncodeResult::sessionUnavailable;
    }
    if (!compressionSession_ &&
        !makeCompressionSession(size.first, size.second, pixelFormat, colorProperties)) {
        return EncodeResult::sessionUnavailable;
    }
    // 7.
    if (framesInFlight_ >= inFlightFrameLimit(frameRate_)) {
        return EncodeResult::pipelineBusy;
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
        return EncodeResult::encoded;
    }
    // 10. The key frame asked for must not be lost with the refused frame.
    framesInFlight_ = std::max(framesInFlight_ - 1, 0);
    forceNextKeyFrame_ = forceNextKeyFrame_ || forceKeyFrame;
    logger_.error("Video encoder refused a frame of ", size.first, "x", size.second);
    return EncodeResult::encodeFailed;
}

// Queues the newest captured frame again when nothing newer waits, so that a screen that no longer changes
// still reaches the headset; any newer captured frame replaces it before it is encoded.
void VideoPipeline::deferLastCapturedFrame() {
    if (!deferredVideoSampleBuffer_) {
        deferredVideoSampleBuffer_ = lastCapturedVideoFrame_;
    }
}

// Resets.

void VideoPipeline::requestReset(bool dropDeferredFrame) {
    if (dropDeferredFrame) {
        deferredVideoSampleBuffer_.reset();
    }
    forceNextKeyFrame_ = true;
    isResetPending_ = true;
    if (isIdle()) {
        resetEncodingPipeline(false);
        retryDeferredFrame();
    }
}

void VideoPipeline::applyPendingResetIfIdle() {
    if (isResetPending_ && isIdle()) {
        resetEncodingPipeline(false);
    }
}

void VideoPipeline::resetEncodingPipeline(bool sessionEnded) {
    if (sessionEnded) {
        deferredVideoSampleBuffer_.reset();
        lastCapturedVideoFrame_.reset();
    }
    isResetPending_ = false;
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
    // Outputs still waiting are of the old generation; they go too.
    encoderOutputs_.clear();
    forceNextKeyFrame_ = true;
    // The rebuilt encoder has no picture of the screen until it gets a frame; callers retry it.
    deferLastCapturedFrame();
}

void VideoPipeline::endSession() {
    mediaSendTask_ = Task();
    pendingMediaFrames_.clear();
    pendingMediaFrameStartIndex_ = 0;
    deferredVideoSampleBuffer_.reset();
    lastFormatMessage_.reset();
    nextSentFrameID_ = 0;
    highestReceivedFrameID_.reset();
}

// Encoder outputs.

void VideoPipeline::receiveEncoderOutput(VideoEncoderOutput output) {
    if (output.generation != compressionSessionGeneration_) {
        return;
    }
    encoderOutputs_.push_back(std::move(output));
    if (encoderOutputTask_.isFinished()) {
        encoderOutputTask_ = Task::spawn(
            session_.executor(),
            [keepAlive = session_.keepAlive(), this]() -> asio::awaitable<void> {
                co_await runEncoderOutputLoop();
            },
            "video encoder outputs");
    }
}

asio::awaitable<void> VideoPipeline::runEncoderOutputLoop() {
    while (!encoderOutputs_.empty()) {
        auto output = std::move(encoderOutputs_.front());
        encoderOutputs_.pop_front();
        co_await handleEncodedFrame(std::move(output));
        if (isCancelled(co_await asio::this_coro::cancellation_state)) {
            co_return;
        }
    }
}

asio::awaitable<void> VideoPipeline::handleEncodedFrame(VideoEncoderOutput output) {
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
        if (!co_await announceFormatIfChanged(sample, generation)) {
            co_return;
        }
        // 5.
        if (!sample.payload.empty() && session_.hasConnection() && session_.controlStream() &&
            session_.isReceiverReady()) {
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
    // 6.
    if (generation == compressionSessionGeneration_) {
        framesInFlight_ = std::max(framesInFlight_ - 1, 0);
        applyPendingResetIfIdle();
        retryDeferredFrame();
    }
}

asio::awaitable<bool> VideoPipeline::announceFormatIfChanged(const EncodedVideoSample& sample,
                                                             std::uint64_t generation) {
    auto formatMessage =
        makeVideoFormatDescriptionMessage(sample.format.get(), activeColorProperties_,
                                          capturedDisplay_.pointWidth, capturedDisplay_.pointHeight);
    if (!formatMessage || (lastFormatMessage_ && sameFormatMessage(*formatMessage, *lastFormatMessage_))) {
        co_return true;
    }
    lastFormatMessage_ = formatMessage;
    if (session_.controlStream()) {
        try {
            co_await session_.sendControlMessage(
                StreamControlMessage::make<StreamControlMessage::Case::videoFormat>(*formatMessage));
        } catch (...) {
            // The frame still goes out; the headset asks for a key frame if it cannot decode it.
        }
        if (isCancelled(co_await asio::this_coro::cancellation_state) ||
            generation != compressionSessionGeneration_) {
            co_return false;
        }
    }
    forceNextKeyFrame_ = true;
    co_return true;
}

asio::awaitable<void> VideoPipeline::announceDisplayAndFormat() {
    const Uuid sessionID = session_.sessionID();
    const auto [pointWidth, pointHeight] =
        roundedPointSize(capturedDisplay_.pointWidth, capturedDisplay_.pointHeight);
    try {
        const StreamControlMessage outgoing =
            StreamControlMessage::make<StreamControlMessage::Case::displayGeometry>(
                DisplayGeometryMessage{pointWidth, pointHeight});
        co_await session_.sendControlMessage(outgoing);
    } catch (const std::exception& error) {
        logger_.error("Failed to send the display geometry: ", error.what());
    }
    if (session_.sessionID() != sessionID || !lastFormatMessage_) {
        co_return;
    }
    const VideoFormatDescriptionMessage format = *lastFormatMessage_;
    try {
        const StreamControlMessage outgoing =
            StreamControlMessage::make<StreamControlMessage::Case::videoFormat>(format);
        co_await session_.sendControlMessage(outgoing);
    } catch (const std::exception& error) {
        logger_.error("Failed to send the video format: ", error.what());
    }
    if (session_.sessionID() == sessionID) {
        forceNextKeyFrame_ = true;
    }
}

// The media stream.

void VideoPipeline::startSending() {
    startMediaSendTaskIfNeeded();
    if (nextSentFrameID_ == 0 && framesInFlight_ == 0) {
        // Whatever was encoded before now was dropped: the headset's first frame must be a key frame, and
        // on a screen that no longer changes it has to be made from the last captured picture.
        forceNextKeyFrame_ = true;
        deferLastCapturedFrame();
        retryDeferredFrame();
    }
}

void VideoPipeline::startMediaSendTaskIfNeeded() {
    if (!mediaSendTask_.isFinished()) {
        return;
    }
    mediaSendTask_ = Task::spawn(
        session_.executor(),
        [keepAlive = session_.keepAlive(), this]() -> asio::awaitable<void> { co_await runMediaSendLoop(); },
        "media send loop");
}

asio::awaitable<void> VideoPipeline::openMediaStream() {
    const Uuid sessionID = session_.sessionID();
    co_await openMediaStream(sessionID);
}

// `sessionID` must outlive the call: callers pass a copy of their own.
asio::awaitable<void> VideoPipeline::openMediaStream(const Uuid& sessionID) {
    auto keepAlive = session_.keepAlive();
    if (session_.sessionID() != sessionID) {
        throw std::system_error(std::make_error_code(std::errc::operation_canceled));
    }
    if (mediaStream_ || !session_.hasConnection()) {
        co_return;
    }
    auto connection = session_.connection();
    auto stream = co_await connection->openStream(QuicStreamDirectionality::unidirectional);
    Bytes kind(1, wireByte(InboundStreamKind::video));
    co_await stream->send(std::move(kind), false);
    if (session_.sessionID() != sessionID || isCancelled(co_await asio::this_coro::cancellation_state)) {
        throw std::system_error(std::make_error_code(std::errc::operation_canceled));
    }
    mediaStream_ = std::move(stream);
}

asio::awaitable<void> VideoPipeline::runMediaSendLoop() {
    auto keepAlive = session_.keepAlive();
    const Uuid sessionID = session_.sessionID();
    std::exception_ptr failure;
    try {
        while (session_.sessionID() == sessionID && !pendingMediaFrames_.empty()) {
            co_await openMediaStream(sessionID);
            if (isCancelled(co_await asio::this_coro::cancellation_state) ||
                session_.sessionID() != sessionID || !mediaStream_) {
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
    if (!failure || isCancelled(co_await asio::this_coro::cancellation_state) ||
        session_.sessionID() != sessionID) {
        // A cancelled loop leaves everything to whoever cancelled it; the frame being sent is lost.
        co_return;
    }
    if (session_.isExpectedTransportError(failure)) {
        mediaStream_.reset();
    } else {
        session_.endSessionForLostConnection(failure);
    }
}

void VideoPipeline::compactPendingMediaFrames() {
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
