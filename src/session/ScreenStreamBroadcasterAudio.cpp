#include "session/ScreenStreamBroadcaster.hpp"

// The audio path: format announcement and datagrams. Until it is built the session sends no audio.

namespace quillbridge {

asio::awaitable<void> ScreenStreamBroadcaster::sendAudioFormatIfNeeded() {
    logger_.debug("Audio format announcement is not available yet");
    co_return;
}

asio::awaitable<void> ScreenStreamBroadcaster::openAudioDatagrams() {
    audioDatagrams_ = connection_ != nullptr;
    co_return;
}

void ScreenStreamBroadcaster::resetAudioEncoding() {
    audioAccumulator_.reset();
    if (audioEncoder_) {
        audioEncoder_->reset();
    }
}

}  // namespace quillbridge
