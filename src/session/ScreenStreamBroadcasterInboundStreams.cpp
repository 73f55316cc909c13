#include "session/ScreenStreamBroadcaster.hpp"

// The host's requests for the headset's camera and microphone: handed to the inbound stream router on the
// strand.

namespace quillbridge {

asio::awaitable<void> ScreenStreamBroadcaster::setPersonaCameraRequested(bool isRequested,
                                                                         std::uint64_t revision) {
    auto self = shared_from_this();
    co_await actor_.run([this, isRequested, revision]() -> asio::awaitable<void> {
        co_await inboundStreamRouter_->setPersonaCameraRequested(isRequested, revision);
    });
}

asio::awaitable<void> ScreenStreamBroadcaster::setMicrophoneRequested(bool isRequested,
                                                                      std::uint64_t revision) {
    auto self = shared_from_this();
    co_await actor_.run([this, isRequested, revision]() -> asio::awaitable<void> {
        co_await inboundStreamRouter_->setMicrophoneRequested(isRequested, revision);
    });
}

}  // namespace quillbridge
