#include "core/Task.hpp"

#include <exception>
#include <utility>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/co_spawn.hpp>
#include <asio/dispatch.hpp>
#include <asio/this_coro.hpp>

#include "core/Logger.hpp"

namespace quillbridge {

namespace {

const Logger logger{"Task"};

}  // namespace

Task& Task::operator=(Task&& other) noexcept {
    if (this != &other) {
        cancel();
        state_ = std::move(other.state_);
    }
    return *this;
}

Task::~Task() {
    cancel();
}

Task Task::spawn(asio::any_io_executor executor, asio::awaitable<void> body, std::string name) {
    Task task;
    task.state_ = std::make_shared<State>();
    task.state_->executor = executor;
    task.state_->name = std::move(name);
    auto& signal = task.state_->signal;
    // The completion handler keeps the state, and with it the signal, alive until the coroutine has ended.
    asio::co_spawn(
        executor, std::move(body),
        asio::bind_cancellation_slot(signal.slot(), [state = task.state_](std::exception_ptr error) {
            Outcome outcome = Outcome::completed;
            if (error) {
                if (isOperationAborted(error)) {
                    outcome = Outcome::cancelled;
                } else {
                    outcome = Outcome::failed;
                    std::string what = "unknown exception";
                    try {
                        std::rethrow_exception(error);
                    } catch (const std::exception& exception) {
                        what = exception.what();
                    } catch (...) {
                    }
                    if (state->name.empty()) {
                        logger.error("Task failed: ", what);
                    } else {
                        logger.error("Task ", state->name, " failed: ", what);
                    }
                }
            }
            std::map<std::uint64_t, Completion> joiners;
            {
                std::lock_guard lock(state->mutex);
                state->outcome = outcome;
                state->finished = true;
                joiners.swap(state->joiners);
            }
            for (auto& [id, joiner] : joiners)
                joiner.complete(asio::error_code{});
        }));
    return task;
}

void Task::cancel() {
    if (!state_ || state_->finished)
        return;
    state_->cancellationRequested = true;
    // The signal belongs to the coroutine's executor: emit it there (inline when already on it).
    asio::dispatch(state_->executor, [state = state_] {
        if (!state->finished)
            state->signal.emit(asio::cancellation_type::terminal);
    });
}

bool Task::isRunning() const {
    return state_ && !state_->finished;
}

std::optional<Task::Outcome> Task::outcome() const {
    if (!state_)
        return std::nullopt;
    std::lock_guard lock(state_->mutex);
    return state_->outcome;
}

bool Task::isCancellationRequested() const {
    return state_ && state_->cancellationRequested;
}

void Task::startJoin(const std::shared_ptr<State>& state, asio::cancellation_slot slot,
                     Completion completion) {
    if (!state) {
        completion.complete(asio::error_code{});
        return;
    }
    std::unique_lock lock(state->mutex);
    if (state->finished) {
        lock.unlock();
        completion.complete(asio::error_code{});
        return;
    }
    auto id = state->nextJoinerID++;
    if (slot.is_connected()) {
        slot.assign([weak = std::weak_ptr<State>(state), id](asio::cancellation_type type) {
            if (!endsWait(type))
                return;
            auto state = weak.lock();
            if (!state)
                return;
            Completion cancelled;
            {
                std::lock_guard lock(state->mutex);
                auto found = state->joiners.find(id);
                if (found == state->joiners.end())
                    return;
                cancelled = std::move(found->second);
                state->joiners.erase(found);
            }
            cancelled.complete(asio::error::operation_aborted);
        });
    }
    state->joiners.emplace(id, std::move(completion));
}

asio::awaitable<void> throwIfCancelled() {
    auto state = co_await asio::this_coro::cancellation_state;
    if (isCancelled(state))
        throw asio::system_error(asio::error::operation_aborted);
}

bool isOperationAborted(const std::exception_ptr& error) {
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const asio::system_error& exception) {
        return exception.code() == asio::error::operation_aborted;
    } catch (...) {
        return false;
    }
}

}  // namespace quillbridge
