#include "platform/linux/avahi/AvahiClientConnection.hpp"

#include <cerrno>
#include <exception>
#include <system_error>
#include <utility>

#include <avahi-common/error.h>
#include <avahi-common/timeval.h>

#include "platform/linux/avahi/AvahiError.hpp"

namespace quillbridge {

namespace {

using namespace std::chrono_literals;

// The pause before a new client when the last one never got going (a broken bus, say).
constexpr std::chrono::milliseconds reconnectPause = 1000ms;

// The connection whose callback runs on this thread, if any.
thread_local const AvahiClientConnection* activeConnection = nullptr;

}  // namespace

AvahiTimer::AvahiTimer(const AvahiPoll* poll, std::function<void()> action)
    : poll_(poll), action_(std::move(action)) {
    timeout_ = poll_->timeout_new(poll_, nullptr, &AvahiTimer::fired, this);
    if (!timeout_)
        throw std::system_error(ENOMEM, std::generic_category(), "Avahi timer");
}

AvahiTimer::~AvahiTimer() {
    poll_->timeout_free(timeout_);
}

void AvahiTimer::schedule(std::chrono::milliseconds delay) {
    timeval when{};
    avahi_elapse_time(&when, static_cast<unsigned>(delay.count()), 0);
    poll_->timeout_update(timeout_, &when);
}

void AvahiTimer::cancel() {
    poll_->timeout_update(timeout_, nullptr);
}

void AvahiTimer::fired(AvahiTimeout* timeout, void* userdata) {
    auto* timer = static_cast<AvahiTimer*>(userdata);
    // A fired timeout stays disarmed until scheduled again.
    timer->poll_->timeout_update(timeout, nullptr);
    // Called from C: nothing may be thrown back. The actions run their work through runAvahiCallback; this
    // is the last net.
    try {
        timer->action_();
    } catch (...) {
    }
}

AvahiClientConnection::Lock::Lock(const AvahiClientConnection& connection) : poll_(connection.threadedPoll_) {
    if (connection.isOnLoopThread()) {
        connection.logger().fault(
            "A service discovery handler called back into its own advertiser or browser");
        std::terminate();
    }
    avahi_threaded_poll_lock(poll_);
}

AvahiClientConnection::Lock::~Lock() {
    avahi_threaded_poll_unlock(poll_);
}

AvahiClientConnection::CallbackScope::CallbackScope(const AvahiClientConnection& connection)
    : previous_(activeConnection) {
    activeConnection = &connection;
}

AvahiClientConnection::CallbackScope::~CallbackScope() {
    activeConnection = previous_;
}

AvahiClientConnection::AvahiClientConnection(Observer& observer) : observer_(observer) {
    threadedPoll_ = avahi_threaded_poll_new();
    if (!threadedPoll_)
        throw std::system_error(ENOMEM, std::generic_category(), "Avahi event loop");
    try {
        connectTimer_ = std::make_unique<AvahiTimer>(poll(), [this] {
            CallbackScope scope(*this);
            runAvahiCallback([this] { connect(); });
        });
    } catch (...) {
        avahi_threaded_poll_free(threadedPoll_);
        throw;
    }
    if (avahi_threaded_poll_start(threadedPoll_) < 0) {
        connectTimer_.reset();
        avahi_threaded_poll_free(threadedPoll_);
        throw std::system_error(EAGAIN, std::generic_category(), "Avahi event loop thread");
    }
}

AvahiClientConnection::~AvahiClientConnection() {
    {
        Lock lock(*this);
        close();
    }
    avahi_threaded_poll_stop(threadedPoll_);
    connectTimer_.reset();
    avahi_threaded_poll_free(threadedPoll_);
}

void AvahiClientConnection::open() {
    if (isOpen_)
        return;
    isOpen_ = true;
    isDaemonUnavailableLogged_ = false;
    // avahi_client_new calls back before it returns; on the loop's thread that is one of our callbacks.
    connectTimer_->schedule(0ms);
}

void AvahiClientConnection::close() {
    isOpen_ = false;
    connectTimer_->cancel();
    if (client_) {
        avahi_client_free(client_);
        client_ = nullptr;
    }
    wasRunning_ = false;
}

const AvahiPoll* AvahiClientConnection::poll() const {
    return avahi_threaded_poll_get(threadedPoll_);
}

AvahiClient* AvahiClientConnection::runningClient() const {
    if (client_ && avahi_client_get_state(client_) == AVAHI_CLIENT_S_RUNNING)
        return client_;
    return nullptr;
}

bool AvahiClientConnection::isOnLoopThread() const {
    return activeConnection == this;
}

void AvahiClientConnection::connect() {
    if (!isOpen_)
        return;
    if (client_) {
        avahi_client_free(client_);
        client_ = nullptr;
    }
    wasRunning_ = false;
    int error = AVAHI_OK;
    // Without the daemon the client waits for it (CONNECTING) instead of failing.
    AvahiClient* client =
        avahi_client_new(poll(), AVAHI_CLIENT_NO_FAIL, &AvahiClientConnection::clientChanged, this, &error);
    client_ = client;
    if (!client) {
        if (!isDaemonUnavailableLogged_) {
            logger_.error("Cannot connect to the service discovery daemon: ", avahi_strerror(error));
            isDaemonUnavailableLogged_ = true;
        }
        observer_.clientUnavailable(makeAvahiError(error));
        connectTimer_->schedule(reconnectPause);
    }
}

void AvahiClientConnection::clientChanged(AvahiClient* client, AvahiClientState state, void* userdata) {
    auto* connection = static_cast<AvahiClientConnection*>(userdata);
    CallbackScope scope(*connection);
    connection->runAvahiCallback([&] { connection->handleClientState(client, state); });
}

void AvahiClientConnection::logCallbackFailure(const char* what) const noexcept {
    try {
        logger_.fault("A service discovery callback failed: ", what);
    } catch (...) {
    }
}

void AvahiClientConnection::handleClientState(AvahiClient* client, AvahiClientState state) {
    if (!isOpen_)
        return;
    // The first call comes from within avahi_client_new, before it has returned the client.
    client_ = client;
    switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            if (isDaemonUnavailableLogged_)
                logger_.info("The service discovery daemon is available again");
            wasRunning_ = true;
            isDaemonUnavailableLogged_ = false;
            observer_.clientRunning(client);
            break;
        case AVAHI_CLIENT_S_REGISTERING:
        case AVAHI_CLIENT_S_COLLISION:
            observer_.clientRegistering();
            break;
        case AVAHI_CLIENT_CONNECTING:
            if (!isDaemonUnavailableLogged_) {
                logger_.error("The service discovery daemon is not running; waiting for it");
                isDaemonUnavailableLogged_ = true;
            }
            observer_.clientUnavailable(makeAvahiError(AVAHI_ERR_NO_DAEMON));
            break;
        case AVAHI_CLIENT_FAILURE: {
            int error = avahi_client_errno(client);
            if (!isDaemonUnavailableLogged_) {
                logger_.error("Lost the service discovery daemon: ", avahi_strerror(error));
                isDaemonUnavailableLogged_ = true;
            }
            observer_.clientUnavailable(makeAvahiError(error));
            // This client is finished even when it was made to wait for the daemon (a restarted daemon
            // fails it too); a new one is made outside this callback: at once after a client that worked,
            // after a pause otherwise, so that a broken bus is not hammered.
            connectTimer_->schedule(wasRunning_ ? 0ms : reconnectPause);
            wasRunning_ = false;
            break;
        }
    }
}

}  // namespace quillbridge
