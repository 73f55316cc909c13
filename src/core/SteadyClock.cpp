#include "core/SteadyClock.hpp"

#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace quillbridge {

Clock::TimePoint SteadyClock::now() const {
    return std::chrono::steady_clock::now();
}

asio::awaitable<void> SteadyClock::sleepUntil(TimePoint deadline) {
    auto executor = co_await asio::this_coro::executor;
    asio::steady_timer timer(executor, deadline);
    co_await timer.async_wait(asio::use_awaitable);
}

}  // namespace quillbridge
