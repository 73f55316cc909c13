#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>

#include <avahi-client/client.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/watch.h>

#include "core/Logger.hpp"
#include "session/ServiceDiscoveryError.hpp"

namespace quillbridge {

// A timer on an Avahi event loop: runs its action on the loop's thread once the delay has passed. Used
// only on the loop's thread or with the loop's lock held.
class AvahiTimer {
public:
    AvahiTimer(const AvahiPoll* poll, std::function<void()> action);
    ~AvahiTimer();
    AvahiTimer(const AvahiTimer&) = delete;
    AvahiTimer& operator=(const AvahiTimer&) = delete;

    // Runs the action once after `delay`, replacing an earlier schedule.
    void schedule(std::chrono::milliseconds delay);
    void cancel();

private:
    static void fired(AvahiTimeout* timeout, void* userdata);

    const AvahiPoll* poll_;
    std::function<void()> action_;
    AvahiTimeout* timeout_ = nullptr;
};

// One Avahi client on an event loop thread of its own, kept connected to the daemon: when the daemon
// goes away the client is dropped and a new one waits for the daemon to come back.
//
// Every Avahi object is used on the loop's thread (in callbacks) or, from any other thread, with the lock
// held. The observer is called on the loop's thread with the lock held.
class AvahiClientConnection {
public:
    class Observer {
    public:
        // The daemon runs and the host's name is established: (re)create your objects on `client`.
        virtual void clientRunning(AvahiClient* client) = 0;
        // The host's name is being (re)established: withdraw published entries until clientRunning.
        virtual void clientRegistering() = 0;
        // The daemon cannot be used for now: free your objects on the client now; clientRunning follows
        // once it is back.
        virtual void clientUnavailable(const ServiceDiscoveryError& error) = 0;

    protected:
        ~Observer() = default;
    };

    // Holds the event loop's lock. Taking it on the loop's thread is a programming error (handlers must
    // not call back into the object that called them).
    class Lock {
    public:
        explicit Lock(const AvahiClientConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        AvahiThreadedPoll* poll_;
    };

    // Marks the loop's thread while one of our callbacks runs there. Every callback that Avahi calls
    // makes one first.
    class CallbackScope {
    public:
        explicit CallbackScope(const AvahiClientConnection& connection);
        ~CallbackScope();
        CallbackScope(const CallbackScope&) = delete;
        CallbackScope& operator=(const CallbackScope&) = delete;

    private:
        const AvahiClientConnection* previous_;
    };

    // Starts the event loop's thread. Throws std::system_error when it cannot.
    explicit AvahiClientConnection(Observer& observer);
    // Closes and stops the loop's thread. Not on the loop's thread.
    ~AvahiClientConnection();
    AvahiClientConnection(const AvahiClientConnection&) = delete;
    AvahiClientConnection& operator=(const AvahiClientConnection&) = delete;

    // With the lock held: starts connecting, on the loop's thread. Does nothing when open.
    void open();
    // With the lock held: frees the client and whatever is left on it; the observer hears nothing more.
    // The observer frees its own objects first.
    void close();

    // With the lock held or on the loop's thread.
    const AvahiPoll* poll() const;
    // The client when it runs, else null. With the lock held or on the loop's thread.
    AvahiClient* runningClient() const;
    bool isOnLoopThread() const;

    const Logger& logger() const { return logger_; }

    // Runs a user's handler; what it throws is logged as "A service <handlerName> threw" and goes no
    // further, so it never unwinds through the Avahi loop.
    template <typename Call>
    void callHandler(std::string_view handlerName, Call&& call) const {
        try {
            std::forward<Call>(call)();
        } catch (const std::exception& error) {
            logger_.fault("A service ", handlerName, " threw: ", error.what());
        } catch (...) {
            logger_.fault("A service ", handlerName, " threw");
        }
    }

    // Runs the body of a callback that Avahi calls from C, where nothing may be thrown: what escapes it (an
    // allocation that failed, say) is logged as "A service discovery callback failed" and dropped.
    template <typename Call>
    void runAvahiCallback(Call&& call) const noexcept {
        try {
            std::forward<Call>(call)();
        } catch (const std::exception& error) {
            logCallbackFailure(error.what());
        } catch (...) {
            logCallbackFailure("unknown exception");
        }
    }

private:
    void logCallbackFailure(const char* what) const noexcept;
    static void clientChanged(AvahiClient* client, AvahiClientState state, void* userdata);
    void connect();
    void handleClientState(AvahiClient* client, AvahiClientState state);

    Observer& observer_;
    Logger logger_{"ServiceDiscovery"};
    AvahiThreadedPoll* threadedPoll_ = nullptr;
    std::unique_ptr<AvahiTimer> connectTimer_;
    AvahiClient* client_ = nullptr;
    bool isOpen_ = false;
    bool wasRunning_ = false;
    bool isDaemonUnavailableLogged_ = false;
};

}  // namespace quillbridge
