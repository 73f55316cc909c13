#include "session/ScreenStreamBroadcaster.hpp"

namespace quillbridge {

asio::awaitable<void> ScreenStreamBroadcaster::startObservingKeyboardLayoutChanges() {
    auto self = shared_from_this();
    auto work = [this] { keyboardReporting_->startObservingLayoutChanges(); };
    co_await actor_.call(std::move(work));
}

}  // namespace quillbridge
