#pragma once

#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>

#include <asio/associated_cancellation_slot.hpp>
#include <asio/associated_executor.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/execution/outstanding_work.hpp>
#include <asio/post.hpp>
#include <asio/prefer.hpp>

namespace quillbridge {

// A completion handler of an asynchronous wait, parked until the event it waits for (a deadline, a value, a
// task's end), with its concrete type erased so that waiters of any kind can share one queue.
//
// While parked it keeps its executor's work count up, like any pending Asio operation. complete() posts the
// handler to its own executor (never runs it inline) and may be called from any thread; the handler's
// cancellation slot is cleared on that executor just before the handler runs. Whoever parks the handler owns
// the slot's cancellation handler and must make a racing cancellation and completion resolve to exactly one
// complete() call (take the entry out of the queue under a lock; whoever takes it completes it).
template <class... Args>
class PendingCompletion {
public:
    PendingCompletion() = default;

    template <class Handler>
    explicit PendingCompletion(Handler&& handler)
        : impl_(std::make_unique<Impl<std::decay_t<Handler>>>(std::forward<Handler>(handler))) {}

    explicit operator bool() const { return impl_ != nullptr; }

    // Posts the handler with these arguments. The object is empty afterwards.
    void complete(Args... args) {
        auto impl = std::move(impl_);
        if (impl)
            impl->post(std::move(args)...);
    }

private:
    struct Base {
        virtual ~Base() = default;
        virtual void post(Args&&... args) = 0;
    };

    template <class Handler>
    struct Impl final : Base {
        explicit Impl(Handler&& h)
            : handler(std::move(h)),
              work(asio::prefer(asio::get_associated_executor(handler),
                                asio::execution::outstanding_work.tracked)) {}

        void post(Args&&... args) override {
            asio::post(work, [handler = std::move(handler),
                              arguments = std::make_tuple(std::move(args)...)]() mutable {
                auto slot = asio::get_associated_cancellation_slot(handler);
                if constexpr (std::is_same_v<decltype(slot), asio::cancellation_slot>)
                    slot.clear();
                std::apply([&](auto&&... values) { std::move(handler)(std::move(values)...); },
                           std::move(arguments));
            });
        }

        Handler handler;
        std::decay_t<decltype(asio::prefer(asio::get_associated_executor(std::declval<Handler&>()),
                                           asio::execution::outstanding_work.tracked))>
            work;
    };

    std::unique_ptr<Base> impl_;
};

// Whether a cancellation request of this type should end a wait (the types Asio's own timers honour).
inline bool endsWait(asio::cancellation_type type) {
    return (type & (asio::cancellation_type::terminal | asio::cancellation_type::partial |
                    asio::cancellation_type::total)) != asio::cancellation_type::none;
}

}  // namespace quillbridge
