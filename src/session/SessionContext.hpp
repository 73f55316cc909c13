#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "core/Uuid.hpp"
#include "pairing/PeerCertificateCapture.hpp"
#include "pairing/TLSIdentity.hpp"
#include "session/QuicConnection.hpp"
#include "session/QuicStream.hpp"
#include "session/ScreenStreamBroadcasterState.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {

// What a component of the session needs of the session that owns it. The session implements it; every call
// is made on the session's strand, and every answer describes the session as it is at that moment (re-read
// it after each co_await).
class SessionContext {
public:
    virtual ~SessionContext() = default;

    // The session's strand: the executor of every component task.
    virtual asio::any_io_executor executor() const = 0;
    // Keeps the session (and so every component) alive while a component's task holds it.
    virtual std::shared_ptr<void> keepAlive() = 0;
    virtual std::weak_ptr<void> weakKeepAlive() = 0;

    // The current session's identity: a fresh one retires every callback of an ended session.
    virtual const Uuid& sessionID() const = 0;
    // The headset connection, admitted or not; null without one.
    virtual std::shared_ptr<QuicConnection> connection() const = 0;
    // Whether a headset connection exists, admitted or not.
    virtual bool hasConnection() const = 0;
    // Whether the headset proved itself (reconnect authentication or pairing).
    virtual bool isAuthorized() const = 0;
    // Whether the headset proved itself and its control stream is open.
    virtual bool isAuthorizedWithControlStream() const = 0;
    // Whether the headset reported its receiver ready (the session's media may flow).
    virtual bool isReceiverReady() const = 0;
    // The control stream; null before the headset opened it and after the session ended.
    virtual std::shared_ptr<QuicStream> controlStream() const = 0;
    // Host media time, CLOCK_MONOTONIC nanoseconds.
    virtual std::uint64_t hostTimeNanoseconds() const = 0;
    // Whether a transport error is an expected end (cancellation, a closed stream or connection, a teardown
    // under way) that forgets the flow rather than ending the session.
    virtual bool isExpectedTransportError(const std::exception_ptr& error) const = 0;
    // Ends the session as lost, in a task of its own (the caller goes on and re-checks its session).
    virtual void endSessionForLostConnection(std::exception_ptr error) = 0;
    // Sends one control message on the control stream; nothing without one. Throws the send error.
    virtual asio::awaitable<void> sendControlMessage(const StreamControlMessage& message) = 0;
    // Tells the user interface the session's state.
    virtual void publishState(ScreenStreamBroadcasterState state) = 0;
    // Runs `body` on the strand as a task the session keeps until it ends; nobody waits for it.
    virtual void spawnDetached(std::string name, std::function<asio::awaitable<void>()> body) = 0;

    // Listening: the identity a listener presents, null when the local security identity is missing; and
    // where it hands each accepted connection.
    virtual const TLSIdentity* listenerIdentity() const = 0;
    virtual asio::awaitable<void> acceptConnection(std::shared_ptr<QuicConnection> connection,
                                                   std::shared_ptr<PeerCertificateCapture> capture) = 0;
};

}  // namespace quillbridge
