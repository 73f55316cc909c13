#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <utility>

#include <asio/awaitable.hpp>

#include "core/Logger.hpp"
#include "core/Task.hpp"
#include "core/Uuid.hpp"
#include "session/CapturedDisplay.hpp"
#include "session/CapturedVideoFrame.hpp"
#include "session/QuicStream.hpp"
#include "session/ScreenStreamBroadcasterDependencies.hpp"
#include "session/SessionContext.hpp"
#include "session/VideoColorProperties.hpp"
#include "session/VideoEncoder.hpp"
#include "wire/EncodedVideoFrame.hpp"
#include "wire/StreamCodec.hpp"
#include "wire/VideoFormatDescriptionMessage.hpp"

namespace quillbridge {

// The session's video path: the compression session (the encoder, what it was built for, its generation and
// the frames inside it), the flow control against the headset's acknowledgements, the one captured frame
// waiting for the encoder, the encoder outputs handled one at a time, the format announcement on the control
// stream, and the media stream with its single ordered send loop. It owns all of that state and the tasks of
// the output and send loops. Runs on the session's strand; every member is called there, and the encoder
// hands its outputs to that strand.
class VideoPipeline {
public:
    VideoPipeline(SessionContext& session, const ScreenStreamBroadcasterDependencies& dependencies);

    // Capture side.
    // Submits a captured frame to the encoder, or keeps it as the one frame waiting for the encoder.
    void encodeOrDefer(std::shared_ptr<const CapturedVideoFrame> frame);
    // Asks the encoder to finish the frames it holds.
    void completePendingFrames();
    // Takes in a change of the captured display or its frame rate; tells the headset a new geometry.
    void updateCapturedDisplay(const CapturedDisplay& display);
    // The codec and frame rate (at least 1) of the next encoder, taken over by a pipeline reset that drops
    // the waiting frame; nothing happens when they equal the pending (or, without one, the current) ones.
    void setCodec(StreamCodec codec);
    void setFrameRate(int framesPerSecond);
    // Rebuilds the encoder as soon as nothing is in flight.
    void requestReset(bool dropDeferredFrame);

    // Headset side.
    // The next encoded frame is a key frame.
    void requestKeyFrame() { forceNextKeyFrame_ = true; }
    // The headset's receiver report: the highest frame it received. Sends on, resets or encodes what waited
    // for the acknowledgement.
    void noteHighestReceivedFrameID(std::optional<std::uint64_t> reported);
    // Opens the media stream of the current session unless it is open; throws the transport's error, or a
    // cancellation error when the session changed meanwhile.
    asio::awaitable<void> openMediaStream();
    // The headset's receiver is ready: frames flow, and unless a frame went out already, the next one is a
    // key frame made from the last captured picture.
    void startSending();
    // An authorised headset learns the display's geometry and, when one is known, the video format; failures
    // are logged and the session goes on.
    asio::awaitable<void> announceDisplayAndFormat();

    // Session end, in the teardown's order: the send loop is cancelled, the media stream closed, the encoder
    // rebuilt from scratch for the next session, and the session's queue and counters start over.
    void cancelSending() { mediaSendTask_.cancel(); }
    void closeMediaStream() { mediaStream_.reset(); }
    void resetForNextSession() { resetEncodingPipeline(true); }
    void endSession();

private:
    friend struct ScreenStreamBroadcasterTestAccess;
    friend struct VideoPipelineTestAccess;

    enum class EncodeResult {
        encoded,
        noImageBuffer,
        tooManyOutstandingFrames,
        sessionUnavailable,
        pipelineBusy,
        encodeFailed,
    };

    bool makeCompressionSession(std::uint32_t width, std::uint32_t height, std::uint32_t pixelFormat,
                                const std::optional<VideoColorProperties>& colorProperties);
    void invalidateCompressionSession();
    std::uint64_t unacknowledgedFrameCount() const;
    std::uint64_t outstandingFrameCount() const;
    bool isIdle() const;
    EncodeResult encodeVideoFrame(const CapturedVideoFrame& frame);
    void retryDeferredFrame();
    void deferLastCapturedFrame();
    // Drops the encoder and what it was built for, takes over the pending codec and frame rate and asks for
    // a key frame. Within a session the last captured picture is queued again for the rebuilt encoder; at a
    // session's end (`sessionEnded`) it goes with the waiting frame, since the next session starts its own
    // capture.
    void resetEncodingPipeline(bool sessionEnded);
    void applyPendingResetIfIdle();
    void receiveEncoderOutput(VideoEncoderOutput output);
    asio::awaitable<void> runEncoderOutputLoop();
    asio::awaitable<void> handleEncodedFrame(VideoEncoderOutput output);
    // Announces a format the headset has not seen; false when the frame's session or encoder went meanwhile.
    asio::awaitable<bool> announceFormatIfChanged(const EncodedVideoSample& sample, std::uint64_t generation);
    void startMediaSendTaskIfNeeded();
    asio::awaitable<void> openMediaStream(const Uuid& sessionID);
    asio::awaitable<void> runMediaSendLoop();
    void compactPendingMediaFrames();

    SessionContext& session_;
    const ScreenStreamBroadcasterDependencies& dependencies_;
    Logger logger_{"ScreenStreamBroadcaster"};

    // The encoder and what it was built for; outputs of an older generation are dropped.
    std::unique_ptr<VideoEncoder> compressionSession_;
    std::uint64_t compressionSessionGeneration_ = 0;
    std::optional<std::uint32_t> inputPixelFormat_;
    std::optional<VideoColorProperties> activeColorProperties_;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> encodedSize_;
    StreamCodec videoCodec_ = StreamCodec::h264;
    int frameRate_ = 60;
    bool isResetPending_ = false;
    std::optional<StreamCodec> pendingVideoCodec_;
    std::optional<int> pendingFrameRate_;
    CapturedDisplay capturedDisplay_{std::nullopt, 0, {}, 0, 0, 0, 0};
    std::optional<VideoFormatDescriptionMessage> lastFormatMessage_;
    bool forceNextKeyFrame_ = true;
    int framesInFlight_ = 0;
    std::shared_ptr<const CapturedVideoFrame> deferredVideoSampleBuffer_;
    // The newest frame of the current capture: a static screen sends no other, so it stands in for the
    // picture whenever the encoder starts over or the headset becomes ready after its output was dropped.
    std::shared_ptr<const CapturedVideoFrame> lastCapturedVideoFrame_;
    // Encoder outputs wait here and are handled one at a time, in the order the encoder gave them.
    std::deque<VideoEncoderOutput> encoderOutputs_;
    Task encoderOutputTask_;

    // The media stream and the frames waiting for it.
    std::shared_ptr<QuicStream> mediaStream_;
    std::uint64_t nextSentFrameID_ = 0;
    std::optional<std::uint64_t> highestReceivedFrameID_;
    std::deque<EncodedVideoFrame> pendingMediaFrames_;
    std::size_t pendingMediaFrameStartIndex_ = 0;
    Task mediaSendTask_;
};

}  // namespace quillbridge
