#include "platform/linux/pulse/PulseConnection.hpp"

#include <pulse/error.h>

#include "platform/linux/pulse/PulseDeadline.hpp"

namespace quillbridge {

namespace {

bool hasEnded(pa_context_state_t state) {
    return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
}

}  // namespace

void PulseConnection::contextStateChanged(pa_context*, void* userdata) {
    // Wakes connect() and every wait(): they check the state themselves.
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

void PulseConnection::successAnswered(pa_context*, int success, void* userdata) {
    auto* answer = static_cast<SuccessAnswer*>(userdata);
    answer->success = success != 0;
    answer->connection->signal();
}

std::unique_ptr<PulseConnection> PulseConnection::connect(const std::string& applicationName,
                                                          std::chrono::milliseconds timeout,
                                                          std::string* error) {
    auto fail = [error](std::string reason) -> std::unique_ptr<PulseConnection> {
        if (error != nullptr) {
            *error = std::move(reason);
        }
        return nullptr;
    };
    pa_threaded_mainloop* mainLoop = pa_threaded_mainloop_new();
    if (mainLoop == nullptr) {
        return fail("pa_threaded_mainloop_new failed");
    }
    pa_context* context = pa_context_new(pa_threaded_mainloop_get_api(mainLoop), applicationName.c_str());
    if (context == nullptr) {
        pa_threaded_mainloop_free(mainLoop);
        return fail("pa_context_new failed");
    }
    std::unique_ptr<PulseConnection> connection(new PulseConnection(mainLoop, context));
    pa_context_set_state_callback(context, &PulseConnection::contextStateChanged, mainLoop);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return fail(std::string("pa_context_connect failed: ") + pa_strerror(pa_context_errno(context)));
    }
    if (pa_threaded_mainloop_start(mainLoop) < 0) {
        return fail("pa_threaded_mainloop_start failed");
    }

    // The deadline wakes the wait below when it passes without an answer.
    Lock lock(*connection);
    const PulseDeadline deadline(mainLoop, timeout);
    for (;;) {
        pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_READY) {
            break;
        }
        if (hasEnded(state) || deadline.hasPassed()) {
            return fail(deadline.hasPassed() ? "the sound server did not answer in time"
                                             : std::string("cannot connect to the sound server: ") +
                                                   pa_strerror(pa_context_errno(context)));
        }
        pa_threaded_mainloop_wait(mainLoop);
    }
    return connection;
}

PulseConnection::~PulseConnection() {
    pa_threaded_mainloop_lock(mainLoop_);
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_threaded_mainloop_unlock(mainLoop_);
    pa_threaded_mainloop_stop(mainLoop_);
    pa_context_unref(context_);
    pa_threaded_mainloop_free(mainLoop_);
}

bool PulseConnection::isReady() const {
    return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

bool PulseConnection::wait(pa_operation* operation) const {
    if (operation == nullptr) {
        return false;
    }
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        if (hasEnded(pa_context_get_state(context_))) {
            pa_operation_cancel(operation);
            pa_operation_unref(operation);
            return false;
        }
        pa_threaded_mainloop_wait(mainLoop_);
    }
    bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    return done;
}

}  // namespace quillbridge
