#include "session/ScreenStreamBroadcaster.hpp"

#include <algorithm>
#include <utility>

namespace quillbridge {

// Named function objects below: a temporary with captures inside a co_await expression is destroyed twice
// by this compiler.

asio::awaitable<bool> ScreenStreamBroadcaster::hasConnection() {
    auto self = shared_from_this();
    auto work = [this] { return connection_ != nullptr; };
    co_return co_await actor_.call(std::move(work));
}

asio::awaitable<bool> ScreenStreamBroadcaster::peerToPeerEnabled() {
    auto self = shared_from_this();
    auto work = [this] { return listener_->peerToPeerEnabled(); };
    co_return co_await actor_.call(std::move(work));
}

asio::awaitable<void> ScreenStreamBroadcaster::setPeerToPeerEnabled(bool enabled) {
    auto self = shared_from_this();
    auto work = [this, enabled] { listener_->setPeerToPeerEnabled(enabled); };
    co_await actor_.call(std::move(work));
}

asio::awaitable<std::vector<PairedPeerRecord>> ScreenStreamBroadcaster::pairedPeers() {
    auto self = shared_from_this();
    auto work = [this] { return peerStore_->allPeers(); };
    co_return co_await actor_.call(std::move(work));
}

}  // namespace quillbridge
