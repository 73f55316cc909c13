#include <utility>

#include "session/ScreenStreamBroadcaster.hpp"

// The video entry points: each hands its work to the video pipeline on the strand.

namespace quillbridge {

asio::awaitable<void> ScreenStreamBroadcaster::encodeOrDeferVideoFrame(
    std::shared_ptr<const CapturedVideoFrame> frame) {
    auto self = shared_from_this();
    // A named function object: a temporary with captures inside the co_await expression is destroyed twice
    // by this compiler.
    auto work = [this, frame] { videoPipeline_->encodeOrDefer(frame); };
    co_await actor_.call(std::move(work));
}

asio::awaitable<void> ScreenStreamBroadcaster::completePendingFrames() {
    auto self = shared_from_this();
    co_await actor_.call([this] { videoPipeline_->completePendingFrames(); });
}

asio::awaitable<void> ScreenStreamBroadcaster::updateCapturedDisplay(CapturedDisplay display) {
    auto self = shared_from_this();
    auto work = [this, display] { videoPipeline_->updateCapturedDisplay(display); };
    co_await actor_.call(std::move(work));
}

asio::awaitable<void> ScreenStreamBroadcaster::setVideoCodec(StreamCodec codec) {
    auto self = shared_from_this();
    co_await actor_.call([this, codec] { videoPipeline_->setCodec(codec); });
}

asio::awaitable<void> ScreenStreamBroadcaster::requestVideoEncodingPipelineReset(bool dropDeferredFrame) {
    auto self = shared_from_this();
    co_await actor_.call([this, dropDeferredFrame] { videoPipeline_->requestReset(dropDeferredFrame); });
}

asio::awaitable<void> ScreenStreamBroadcaster::setVideoFrameRate(int framesPerSecond) {
    auto self = shared_from_this();
    co_await actor_.call([this, framesPerSecond] { videoPipeline_->setFrameRate(framesPerSecond); });
}

}  // namespace quillbridge
