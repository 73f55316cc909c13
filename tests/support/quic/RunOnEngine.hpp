#pragma once

#include <chrono>
#include <future>
#include <stdexcept>
#include <type_traits>

#include "platform/linux/quic/QuicRuntime.hpp"

namespace quillbridge {

// Runs the work on the engine thread and waits (bounded) for its result: how tests reach engine-thread-only
// objects such as a QuicEndpoint.
template <typename Work>
auto runOnEngine(QuicRuntime& runtime, Work work) -> decltype(work()) {
    using Result = decltype(work());
    std::promise<Result> promise;
    auto future = promise.get_future();
    const bool posted = runtime.post([&] {
        if constexpr (std::is_void_v<Result>) {
            work();
            promise.set_value();
        } else {
            promise.set_value(work());
        }
    });
    if (!posted || future.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        throw std::runtime_error("the engine thread did not run the work");
    }
    return future.get();
}

}  // namespace quillbridge
