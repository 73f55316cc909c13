#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <type_traits>
#include <utility>

#include <asio/associated_cancellation_slot.hpp>
#include <asio/associated_executor.hpp>
#include <asio/async_result.hpp>
#include <asio/execution/outstanding_work.hpp>
#include <asio/post.hpp>
#include <asio/prefer.hpp>
#include <asio/use_awaitable.hpp>

#include "platform/linux/quic/QuicRuntime.hpp"
#include "session/QuicError.hpp"

namespace quillbridge {

// The result type of operations that yield nothing.
struct QuicUnit {};

// The pending completion of one awaited operation, type-erased and owned by the engine. It is created on the
// awaiting thread, completed once on the engine thread, and resumes the awaiting coroutine on its own
// executor. When that coroutine is cancelled, the canceller the engine registered runs on the engine thread
// (it is expected to complete the operation, normally with operation_aborted). A completion destroyed
// without having completed fails its operation with QuicError::transportShutDown, so nothing waits forever.
template <typename T>
class QuicCompletion {
public:
    QuicCompletion() = default;

    template <typename Handler>
    QuicCompletion(Handler handler, std::shared_ptr<QuicRuntime> runtime)
        : shared_(std::make_shared<Shared>()) {
        shared_->runtime = std::move(runtime);
        auto slot = asio::get_associated_cancellation_slot(handler);
        if (slot.is_connected()) {
            slot.assign([shared = shared_](asio::cancellation_type) { requestCancellation(shared); });
        }
        impl_ = std::make_unique<Impl<Handler>>(std::move(handler));
    }

    QuicCompletion(QuicCompletion&&) noexcept = default;
    QuicCompletion& operator=(QuicCompletion&& other) noexcept {
        if (this != &other) {
            abandon();
            impl_ = std::move(other.impl_);
            shared_ = std::move(other.shared_);
        }
        return *this;
    }
    ~QuicCompletion() { abandon(); }

    explicit operator bool() const { return impl_ != nullptr; }

    void succeed(T value) { complete(nullptr, std::move(value)); }
    void fail(std::exception_ptr error) { complete(std::move(error), T{}); }
    void fail(std::error_code error) { fail(std::make_exception_ptr(std::system_error(error))); }

    // Registers what runs (on the engine thread) when the awaiting coroutine is cancelled.
    void setCanceller(std::move_only_function<void()> canceller) {
        if (!shared_) {
            return;
        }
        bool runNow = false;
        {
            std::lock_guard lock(shared_->mutex);
            if (shared_->finished) {
                return;
            }
            if (shared_->cancelRequested) {
                shared_->cancelRequested = false;
                runNow = true;
            } else {
                shared_->canceller = std::move(canceller);
            }
        }
        if (runNow) {
            shared_->runtime->post(std::move(canceller));
        }
    }

private:
    struct Shared {
        std::mutex mutex;
        bool finished = false;
        bool cancelRequested = false;
        std::move_only_function<void()> canceller;
        std::shared_ptr<QuicRuntime> runtime;
    };

    struct Base {
        virtual ~Base() = default;
        virtual void invoke(std::exception_ptr error, T value) = 0;
    };

    template <typename Handler>
    struct Impl final : Base {
        explicit Impl(Handler&& h)
            : handler(std::move(h)),
              work(asio::prefer(asio::get_associated_executor(handler),
                                asio::execution::outstanding_work.tracked)),
              slot(asio::get_associated_cancellation_slot(handler)) {}

        void invoke(std::exception_ptr error, T value) override {
            auto executor = work;
            asio::post(executor, [h = std::move(handler), slot = slot, error = std::move(error),
                                  value = std::move(value)]() mutable {
                if (slot.is_connected()) {
                    slot.clear();
                }
                if constexpr (std::is_same_v<T, QuicUnit>) {
                    (void)value;
                    std::move(h)(std::move(error));
                } else {
                    std::move(h)(std::move(error), std::move(value));
                }
            });
        }

        Handler handler;
        std::decay_t<decltype(asio::prefer(asio::get_associated_executor(std::declval<Handler&>()),
                                           asio::execution::outstanding_work.tracked))>
            work;
        asio::cancellation_slot slot;
    };

    static void requestCancellation(const std::shared_ptr<Shared>& shared) {
        std::move_only_function<void()> canceller;
        {
            std::lock_guard lock(shared->mutex);
            if (shared->finished) {
                return;
            }
            if (!shared->canceller) {
                shared->cancelRequested = true;
                return;
            }
            canceller = std::move(shared->canceller);
        }
        shared->runtime->post(std::move(canceller));
    }

    void complete(std::exception_ptr error, T value) {
        if (!impl_) {
            return;
        }
        {
            std::lock_guard lock(shared_->mutex);
            shared_->finished = true;
            shared_->canceller = nullptr;
        }
        auto impl = std::move(impl_);
        impl->invoke(std::move(error), std::move(value));
    }

    void abandon() {
        if (impl_) {
            fail(make_error_code(QuicError::transportShutDown));
        }
    }

    std::unique_ptr<Base> impl_;
    std::shared_ptr<Shared> shared_;
};

template <typename T>
using QuicCompletionSignature =
    std::conditional_t<std::is_same_v<T, QuicUnit>, void(std::exception_ptr), void(std::exception_ptr, T)>;

template <typename T>
using QuicAwaitable = asio::awaitable<std::conditional_t<std::is_same_v<T, QuicUnit>, void, T>>;

// Starts an operation on the engine thread and awaits its completion on the caller's executor. `start`
// receives the completion and must complete it (now or later) or keep it. Not a coroutine itself: the
// operation's state lives in the awaitable that asio builds.
template <typename T, typename Start>
QuicAwaitable<T> runOnEngine(std::shared_ptr<QuicRuntime> runtime, Start start) {
    return asio::async_initiate<const asio::use_awaitable_t<>&, QuicCompletionSignature<T>>(
        [](auto handler, std::shared_ptr<QuicRuntime> runtime, Start start) {
            QuicCompletion<T> completion(std::move(handler), runtime);
            // When the runtime refuses, the dropped lambda's completion fails the operation.
            runtime->post([start = std::move(start), completion = std::move(completion)]() mutable {
                start(std::move(completion));
            });
        },
        asio::use_awaitable, std::move(runtime), std::move(start));
}

}  // namespace quillbridge
