#include "session/ScreenStreamBroadcaster.hpp"

namespace quillbridge {

asio::awaitable<void> ScreenStreamBroadcaster::sendAudioDatagrams(AudioPCMBuffer buffer) {
    auto self = shared_from_this();
    try {
        co_await actor_.run(
            [this, &buffer]() -> asio::awaitable<void> { co_await audioPipeline_->send(std::move(buffer)); });
    } catch (...) {
        // Only a cancellation of the caller reaches here; the audio of this call is simply dropped.
    }
}

}  // namespace quillbridge
