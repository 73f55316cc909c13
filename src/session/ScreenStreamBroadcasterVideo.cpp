#include "session/ScreenStreamBroadcaster.hpp"

// The video path: media stream, encoder pipeline resets and the media send loop. Until it is built the
// session sends no video; these members keep the control loop's calls in place.

namespace quillbridge {

asio::awaitable<void> ScreenStreamBroadcaster::openMediaStream() {
    logger_.debug("Video media stream is not available yet");
    co_return;
}

void ScreenStreamBroadcaster::startMediaSendTaskIfNeeded() {}

bool ScreenStreamBroadcaster::isVideoEncodingPipelineIdle() const {
    return framesInFlight_ == 0 && pendingMediaFrames_.empty() &&
           (nextSentFrameID_ == 0 ||
            (highestReceivedFrameID_ && *highestReceivedFrameID_ + 1 >= nextSentFrameID_));
}

void ScreenStreamBroadcaster::applyVideoEncodingPipelineReset() {
    isVideoEncodingPipelineResetPending_ = false;
}

void ScreenStreamBroadcaster::retryDeferredVideoSampleBuffer() {}

void ScreenStreamBroadcaster::resetVideoEncodingPipeline() {
    ++compressionSessionGeneration_;
    framesInFlight_ = 0;
    isVideoEncodingPipelineResetPending_ = false;
}

}  // namespace quillbridge
