#include "platform/linux/quic/QuicRuntime.hpp"

#include <pthread.h>
#include <time.h>

#include <asio/executor_work_guard.hpp>

#include "core/Logger.hpp"

namespace quillbridge {

namespace {

const Logger logger{"QuicTransport"};

}  // namespace

QuicRuntime::QuicRuntime() {
    thread_ = std::thread([this] {
        auto guard = asio::make_work_guard(context_);
        // A handler that throws must not end the thread (and with it the process): the failure is logged
        // and the loop goes on. The engine catches what it expects where it happens; this is the last net.
        for (;;) {
            try {
                context_.run();
                return;
            } catch (const std::exception& error) {
                logger.fault("The QUIC engine thread caught an exception: ", error.what());
            } catch (...) {
                logger.fault("The QUIC engine thread caught an exception");
            }
        }
    });
}

QuicRuntime::~QuicRuntime() {
    if (thread_.joinable()) {
        shutdown([] {});
    }
}

bool QuicRuntime::post(std::move_only_function<void()> work) {
    std::lock_guard lock(mutex_);
    if (!accepting_) {
        return false;
    }
    asio::post(context_, std::move(work));
    return true;
}

void QuicRuntime::shutdown(std::move_only_function<void()> finalWork) {
    {
        std::lock_guard lock(mutex_);
        if (!accepting_) {
            return;
        }
        accepting_ = false;
        asio::post(context_, [this, work = std::move(finalWork)]() mutable {
            work();
            // Let what the final work started (close packets, completions) leave before stopping.
            asio::post(context_, [this] { context_.stop(); });
        });
    }
    thread_.join();
}

std::chrono::nanoseconds QuicRuntime::threadCpuTime() const {
    clockid_t clock;
    if (pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &clock) != 0) {
        return std::chrono::nanoseconds(0);
    }
    timespec value{};
    clock_gettime(clock, &value);
    return std::chrono::seconds(value.tv_sec) + std::chrono::nanoseconds(value.tv_nsec);
}

}  // namespace quillbridge
