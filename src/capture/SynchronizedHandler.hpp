#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace quillbridge {

// A handler that one thread installs and clears while other threads call it: a call sees either the old or
// the new handler, never a torn one, and runs outside the lock (a handler may be replaced while it runs).
template <class Signature>
class SynchronizedHandler;

template <class Result, class... Args>
class SynchronizedHandler<Result(Args...)> {
public:
    using Function = std::function<Result(Args...)>;

    void set(Function function) {
        auto next = function ? std::make_shared<const Function>(std::move(function)) : nullptr;
        std::lock_guard lock(mutex_);
        function_.swap(next);
        // The old handler is released outside the lock (below, with `next`).
    }
    void clear() { set(nullptr); }

    std::shared_ptr<const Function> get() const {
        std::lock_guard lock(mutex_);
        return function_;
    }
    bool isSet() const { return get() != nullptr; }

    // Calls the handler if one is installed; false when none was.
    template <class... CallArgs>
    bool operator()(CallArgs&&... args) const {
        auto function = get();
        if (!function) {
            return false;
        }
        (*function)(std::forward<CallArgs>(args)...);
        return true;
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const Function> function_;
};

}  // namespace quillbridge
