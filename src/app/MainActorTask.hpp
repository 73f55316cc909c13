#pragma once

#include <exception>
#include <string>
#include <utility>

#include <asio/any_io_executor.hpp>
#include <asio/co_spawn.hpp>

#include "core/Logger.hpp"
#include "core/Task.hpp"

namespace quillbridge {

// Starts a task that nobody keeps or cancels: the coroutine function (typically a lambda holding what it
// needs) runs on the executor, which also keeps the function alive while its body runs. A failure is logged
// under the name.
template <class Function>
void startUnkeptTask(const asio::any_io_executor& executor, Function function, std::string name) {
    asio::co_spawn(executor, std::move(function), [name = std::move(name)](std::exception_ptr error) {
        if (!error || isOperationAborted(error)) {
            return;
        }
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& failure) {
            Logger("App").error("The ", name, " task failed: ", failure.what());
        } catch (...) {
            Logger("App").error("The ", name, " task failed.");
        }
    });
}

}  // namespace quillbridge
