#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <pulse/context.h>
#include <pulse/operation.h>
#include <pulse/thread-mainloop.h>

namespace quillbridge {

// A connection to the sound server (PulseAudio or pipewire-pulse) on a threaded main loop of its own.
// libpulse calls from other threads hold the loop's lock (Lock); callbacks run on the loop's thread with the
// lock held and must not take it again. A connection whose server goes away stays failed: make a new one.
class PulseConnection {
public:
    // Connects to the default server ($PULSE_SERVER or the user's), waiting at most `timeout`. Nothing, with
    // the reason in `error`, when no server answers in time.
    static std::unique_ptr<PulseConnection> connect(const std::string& applicationName,
                                                    std::chrono::milliseconds timeout, std::string* error);

    // Disconnects and stops the loop thread. Never call it from the loop's own thread.
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* mainLoop() const { return mainLoop_; }
    pa_context* context() const { return context_; }

    // Holds the loop's lock for its lifetime (not on the loop's own thread).
    class Lock {
    public:
        explicit Lock(const PulseConnection& connection) : mainLoop_(connection.mainLoop_) {
            pa_threaded_mainloop_lock(mainLoop_);
        }
        ~Lock() { pa_threaded_mainloop_unlock(mainLoop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* mainLoop_;
    };

    // Whether the context is connected and ready. Call with the lock held.
    bool isReady() const;

    // With the lock held: waits until the operation has finished, or the connection failed, and releases
    // it. Completion callbacks of such operations must call signal(). False when the connection failed or the
    // operation is null.
    bool wait(pa_operation* operation) const;
    // Wakes the waiters of wait(); called from completion callbacks on the loop thread.
    void signal() const { pa_threaded_mainloop_signal(mainLoop_, 0); }

    // With the lock held: starts an operation that answers through a pa_context_success_cb_t (`start` is
    // given the context, that callback and its userdata) and waits for the answer. False when the server
    // refused, or as wait().
    template <class Start>
    bool waitForSuccess(Start start) const {
        SuccessAnswer answer{this};
        return wait(start(context_, &PulseConnection::successAnswered, &answer)) && answer.success;
    }

private:
    PulseConnection(pa_threaded_mainloop* mainLoop, pa_context* context)
        : mainLoop_(mainLoop), context_(context) {}

    static void contextStateChanged(pa_context* context, void* userdata);

    struct SuccessAnswer {
        const PulseConnection* connection;
        bool success = false;
    };
    static void successAnswered(pa_context* context, int success, void* userdata);

    pa_threaded_mainloop* mainLoop_;
    pa_context* context_;
};

}  // namespace quillbridge
