#pragma once

#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

namespace quillbridge {

// An io_context turned by a thread of its own until the loop is destroyed.
class EventLoopThread {
public:
    static constexpr std::chrono::seconds defaultBound{60};

    EventLoopThread() : guard_(asio::make_work_guard(context)), thread_([this] { context.run(); }) {}
    ~EventLoopThread() {
        guard_.reset();
        context.stop();
        thread_.join();
    }

    template <class T>
    T run(asio::awaitable<T> awaitable, std::chrono::seconds bound = defaultBound) {
        auto future = asio::co_spawn(context, std::move(awaitable), asio::use_future);
        if (future.wait_for(bound) != std::future_status::ready) {
            throw std::runtime_error("timed out");
        }
        return future.get();
    }

    template <class Function>
    auto call(Function function) {
        return run([](Function body) -> asio::awaitable<decltype(body())> { co_return body(); }(function));
    }

    // The loop's thread, for reading its CPU time.
    std::thread& thread() { return thread_; }

    asio::io_context context;

private:
    asio::executor_work_guard<asio::io_context::executor_type> guard_;
    std::thread thread_;
};

// Line-based commands between a benchmark and the host process it started, over a pair of pipes.
class LineChannel {
public:
    LineChannel(int readFd, int writeFd) : read_(readFd), write_(writeFd) {}

    void send(const std::string& line) {
        const std::string text = line + "\n";
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t written = ::write(write_, text.data() + done, text.size() - done);
            if (written <= 0) {
                throw std::runtime_error("the other process has gone");
            }
            done += static_cast<std::size_t>(written);
        }
    }

    // The next line, or nothing when the other side closed.
    std::optional<std::string> receive() {
        for (;;) {
            const auto end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            char chunk[256];
            const ssize_t count = ::read(read_, chunk, sizeof chunk);
            if (count <= 0) {
                return std::nullopt;
            }
            buffer_.append(chunk, static_cast<std::size_t>(count));
        }
    }

    // Sends a command and returns the answer line.
    std::string ask(const std::string& line) {
        send(line);
        auto answer = receive();
        if (!answer) {
            throw std::runtime_error("the host process has gone");
        }
        return *answer;
    }

private:
    int read_;
    int write_;
    std::string buffer_;
};

}  // namespace quillbridge
