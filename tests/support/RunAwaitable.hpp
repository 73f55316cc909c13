#pragma once

#include <future>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

namespace quillbridge {

// Runs one awaitable to completion on a private io_context and returns its result (or rethrows).
template <typename T>
T runAwaitable(asio::awaitable<T> awaitable) {
    asio::io_context context;
    auto future = asio::co_spawn(context, std::move(awaitable), asio::use_future);
    context.run();
    return future.get();
}

}  // namespace quillbridge
