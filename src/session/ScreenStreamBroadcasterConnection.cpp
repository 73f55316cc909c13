#include "session/ScreenStreamBroadcaster.hpp"

#include <utility>

#include <asio/error.hpp>
#include <asio/system_error.hpp>
#include <asio/this_coro.hpp>

namespace quillbridge {

namespace {

constexpr std::string_view displayWakeActivityName = "Quillbridge Vision Pro connection";

}  // namespace

asio::awaitable<void> ScreenStreamBroadcaster::accept(std::shared_ptr<QuicConnection> connection,
                                                      std::shared_ptr<PeerCertificateCapture> capture) {
    // One headset at a time; and none while a session is still being torn down, whose remaining steps would
    // otherwise wipe the new session's state. The headset tries again.
    if (connection_ || isTearingDownSession_) {
        logger_.info(connection_ ? "Declined a second connection while a session runs"
                                 : "Declined a connection while a session ends");
        connection->setStateHandler(actor_.executor(), [](const QuicConnectionState&) {});
        connection->close(0);
        // Its handshake left its certificate in the capture, where it would keep the next handshake out
        // for seconds: take it away and admit handshakes again.
        spawnDetached("declined connection", [capture]() -> asio::awaitable<void> {
            co_await capture->takeHandshakeCertificate();
            capture->finishAcceptingConnection();
        });
        co_return;
    }
    const Uuid sessionID = Uuid::random();
    sessionID_ = sessionID;
    connection_ = connection;
    wakeDisplayOnActor();
    pendingPeerCertificate_.reset();
    startSessionSetupTimeout(sessionID);

    std::weak_ptr<ScreenStreamBroadcaster> weakSelf = shared_from_this();
    connection->setStateHandler(actor_.executor(), [weakSelf, sessionID](const QuicConnectionState& state) {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        self->spawnDetached("connection state", [self, state, sessionID]() -> asio::awaitable<void> {
            co_await self->handleConnectionState(state, sessionID);
        });
    });

    auto self = shared_from_this();
    inboundStreamTask_ = Task::spawn(
        actor_.executor(),
        [self, connection, sessionID, capture]() -> asio::awaitable<void> {
            co_await self->runInboundStreamLoop(connection, sessionID, capture);
        },
        "inbound streams");
    co_return;
}

asio::awaitable<void> ScreenStreamBroadcaster::runInboundStreamLoop(
    std::shared_ptr<QuicConnection> connection, Uuid sessionID,
    std::shared_ptr<PeerCertificateCapture> capture) {
    for (;;) {
        std::shared_ptr<QuicStream> stream;
        std::exception_ptr failure;
        try {
            stream = co_await connection->acceptStream();
        } catch (...) {
            failure = std::current_exception();
        }
        if (isCancelled(co_await asio::this_coro::cancellation_state) || sessionID_ != sessionID) {
            co_return;
        }
        if (failure) {
            const bool expected = isCancellationError(failure);
            // Values are named before they are awaited: no temporary with a destructor inside co_await.
            std::optional<State> lost;
            std::exception_ptr reported;
            if (!expected) {
                lost = State::failed("Connection lost");
                reported = failure;
            }
            co_await endSession(std::move(reported), std::move(lost), true, true);
            co_return;
        }
        if (!stream) {
            // The connection was closed by this side: its state handler ends the session.
            co_return;
        }
        std::erase_if(inboundStreamHandlerTasks_, [](const Task& task) { return task.isFinished(); });
        auto self = shared_from_this();
        inboundStreamHandlerTasks_.push_back(Task::spawn(
            actor_.executor(),
            [self, stream, sessionID, capture]() -> asio::awaitable<void> {
                co_await self->handleInboundStream(stream, sessionID, capture);
            },
            "inbound stream"));
    }
}

asio::awaitable<void> ScreenStreamBroadcaster::handleInboundStream(
    std::shared_ptr<QuicStream> stream, Uuid sessionID, std::shared_ptr<PeerCertificateCapture> capture) {
    if (sessionID_ != sessionID) {
        co_return;
    }
    if (!controlStream_) {
        co_await runControlMessageLoop(std::move(stream), sessionID, std::move(capture));
        co_return;
    }
    if (isAuthorized_) {
        co_await inboundStreamRouter_->route(std::move(stream), sessionID);
        co_return;
    }
    // A stream opened before authorisation other than the control stream is not read.
}

asio::awaitable<void> ScreenStreamBroadcaster::handleConnectionState(QuicConnectionState state,
                                                                     Uuid sessionID) {
    if (sessionID_ != sessionID) {
        co_return;
    }
    // Named before it is awaited: GCC 12 mangles a temporary of this type inside co_await.
    std::optional<State> lost = State::failed("Connection lost");
    switch (state.kind) {
        case QuicConnectionState::Kind::failed:
            co_await endSession(std::make_exception_ptr(std::system_error(state.error)), std::move(lost),
                                true, true);
            co_return;
        case QuicConnectionState::Kind::cancelled:
            // Closed by this side: an expected end, not logged, still reported as lost.
            co_await endSession(std::make_exception_ptr(asio::system_error(asio::error::operation_aborted)),
                                std::move(lost), true, true);
            co_return;
        case QuicConnectionState::Kind::ready:
            co_return;
    }
}

asio::awaitable<bool> ScreenStreamBroadcaster::wakeDisplayForActiveConnection() {
    auto self = shared_from_this();
    co_return co_await actor_.call([this] { return wakeDisplayOnActor(); });
}

bool ScreenStreamBroadcaster::wakeDisplayOnActor() {
    if (!connection_) {
        return false;
    }
    beginConnectionActivity();
    if (dependencies_.displayWaker == nullptr) {
        return false;
    }
    const auto outcome = dependencies_.displayWaker->wakeDisplay(displayWakeActivityName);
    switch (outcome.kind) {
        case DisplayWaker::Outcome::Kind::woken:
            displayWakeActivityID_ = 1;
            return true;
        case DisplayWaker::Outcome::Kind::noDisplay:
            logger_.debug("No display to wake for the active connection");
            return false;
        case DisplayWaker::Outcome::Kind::failed:
            logger_.error("Failed to wake the display for an active connection: ", outcome.code);
            return false;
    }
    return false;
}

}  // namespace quillbridge
