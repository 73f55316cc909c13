#include "session/ScreenStreamBroadcaster.hpp"

namespace quillbridge {

asio::awaitable<void> ScreenStreamBroadcaster::startListening() {
    auto self = shared_from_this();
    co_await actor_.call([this] { listener_->start(); });
}

asio::awaitable<void> ScreenStreamBroadcaster::restartListening() {
    auto self = shared_from_this();
    co_await actor_.call([this] { listener_->restart(); });
}

}  // namespace quillbridge
