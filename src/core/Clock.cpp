#include "core/Clock.hpp"

namespace quillbridge {

asio::awaitable<void> Clock::sleepFor(Duration duration) {
    // The deadline is fixed when the call is made, before the first suspension.
    return sleepUntil(now() + duration);
}

}  // namespace quillbridge
