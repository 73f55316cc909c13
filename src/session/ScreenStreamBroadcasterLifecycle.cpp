#include "session/ScreenStreamBroadcaster.hpp"

#include "session/ScreenStreamBroadcasterContext.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <system_error>
#include <utility>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/error.hpp>
#include <asio/system_error.hpp>
#include <asio/this_coro.hpp>

#include "pairing/GeneratedTLSIdentity.hpp"
#include "session/StreamSessionSetupError.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {

namespace {

constexpr std::string_view connectionActivityReason = "Active Quillbridge Vision Pro connection";

}  // namespace

std::string ScreenStreamBroadcasterState::statusText() const {
    switch (kind) {
        case Kind::connected:
            return "Connected to " + text;
        case Kind::localNetworkPermissionCheckFailed:
        case Kind::failed:
            return text;
        case Kind::idle:
            return "Idle";
        case Kind::listening:
        case Kind::localNetworkPermissionGranted:
            return "Not connected";
        case Kind::localNetworkPermissionChecking:
            return "Checking local network access…";
        case Kind::localNetworkPermissionDenied:
            return "Local Network permission was denied";
    }
    return {};
}

std::string hostDisplayName(std::string_view systemName) {
    constexpr std::string_view whitespace = " \t\n\r\v\f";
    const auto first = systemName.find_first_not_of(whitespace);
    if (first == std::string_view::npos) {
        return "Mac";
    }
    const auto last = systemName.find_last_not_of(whitespace);
    return std::string(systemName.substr(first, last - first + 1));
}

std::shared_ptr<ScreenStreamBroadcaster> ScreenStreamBroadcaster::create(
    ScreenStreamBroadcasterDependencies dependencies) {
    std::shared_ptr<ScreenStreamBroadcaster> broadcaster(
        new ScreenStreamBroadcaster(std::move(dependencies)));
    broadcaster->initialize();
    return broadcaster;
}

ScreenStreamBroadcaster::ScreenStreamBroadcaster(ScreenStreamBroadcasterDependencies dependencies)
    : dependencies_(std::move(dependencies)),
      actor_(dependencies_.executor),
      context_(std::make_unique<Context>(*this)),
      sessionID_(Uuid::random()) {}

ScreenStreamBroadcaster::~ScreenStreamBroadcaster() = default;

void ScreenStreamBroadcaster::initialize() {
    // Collaborators, then state, then the identity, in that order.
    peerStore_ =
        std::make_unique<PairedPeerStore>(*dependencies_.defaults, *dependencies_.secrets, PairingRole::mac);
    personaAVTimingCoordinator_ = dependencies_.personaAVTimingCoordinator;

    localPeerIdentity_ =
        LocalDeviceIdentity{peerStore_->localPeerID(), hostDisplayName(dependencies_.hostDisplayName)};
    localSigningPrivateKey_ = peerStore_->loadOrCreateSigningKey();
    if (auto loaded = GeneratedTLSIdentity::loadOrCreate(*dependencies_.secrets, localPeerIdentity_.id)) {
        tlsIdentity_ = loaded->identity;
        tlsCertificateDER_ = loaded->certificateDER;
    } else {
        logger_.error("Failed to load or create the local TLS identity");
    }
    listener_ = std::make_unique<Listener>(*context_, dependencies_, localPeerIdentity_);
    keyboardReporting_ = std::make_unique<KeyboardReporting>(*context_, dependencies_);
    audioPipeline_ = std::make_unique<AudioPipeline>(*context_, dependencies_);
    videoPipeline_ = std::make_unique<VideoPipeline>(*context_, dependencies_);
    clipboardTransfers_ = std::make_unique<ClipboardTransfers>(*context_, dependencies_);
    scrollMomentum_ =
        std::make_unique<ScrollMomentum>(*context_, dependencies_.clock, dependencies_.remoteInput);
    inboundStreamRouter_ = std::make_unique<InboundStreamRouter>(
        *context_, dependencies_, *clipboardTransfers_,
        InboundStreamRouter::SharingStateOutputs{personaCameraSharingStates_, microphoneSharingStates_});

    updates_.yield(State::idle());
    pairingPrompts_.yield(std::nullopt);
}

asio::awaitable<void> ScreenStreamBroadcaster::stop() {
    auto self = shared_from_this();
    // Lambdas inside a co_await capture nothing with a destructor (GCC 12 may destroy such temporaries
    // twice); `self` keeps the broadcaster alive meanwhile.
    const bool needsTeardown = co_await actor_.call([this] {
        bool needsTeardown = false;
        stopOnActor(needsTeardown);
        return needsTeardown;
    });
    if (needsTeardown) {
        std::optional<State> idle = State::idle();
        co_await endSession(nullptr, std::move(idle), true, false);
    }
}

void ScreenStreamBroadcaster::stopOnActor(bool& needsTeardown) {
    listener_->stop();
    if (!connection_) {
        updates_.yield(State::idle());
        return;
    }
    needsTeardown = true;
}

asio::awaitable<void> ScreenStreamBroadcaster::stopListeningIfNotConnected() {
    auto self = shared_from_this();
    co_await actor_.call([this] {
        if (connection_) {
            return;
        }
        listener_->stop();
        updates_.yield(State::idle());
    });
}

void ScreenStreamBroadcaster::beginConnectionActivity() {
    if (connectionPowerActivity_ || dependencies_.connectionPowerActivity == nullptr) {
        return;
    }
    connectionPowerActivity_ = dependencies_.connectionPowerActivity->begin(connectionActivityReason);
    if (!connectionPowerActivity_) {
        logger_.error("Failed to keep the host awake for an active connection");
    }
}

void ScreenStreamBroadcaster::endConnectionActivity() {
    // A display wake leaves nothing to release on this system; only the marker goes.
    displayWakeActivityID_ = 0;
    connectionPowerActivity_.reset();
}

void ScreenStreamBroadcaster::startSessionSetupTimeout(const Uuid& sessionID) {
    auto self = shared_from_this();
    std::weak_ptr<ScreenStreamBroadcaster> weakSelf = self;
    sessionSetupTimeoutTask_ = Task::spawn(
        actor_.executor(),
        [weakSelf, sessionID, timeout = dependencies_.sessionSetupTimeout,
         clock = dependencies_.clock]() -> asio::awaitable<void> {
            co_await clock->sleepFor(timeout);
            auto self = weakSelf.lock();
            if (!self || self->sessionID_ != sessionID || self->isReceiverReady_) {
                co_return;
            }
            // Named before it is awaited: GCC 12 mangles a temporary of this type inside co_await.
            std::optional<State> timedOut = State::failed("Connection timed out");
            co_await self->endSession(
                std::make_exception_ptr(StreamSessionSetupError(StreamSessionSetupError::Code::timedOut)),
                std::move(timedOut), true, true);
        },
        "session set-up time-out");
}

bool ScreenStreamBroadcaster::handleTransportError(const std::exception_ptr& error) const {
    if (isTearingDownSession_ || isCancellationError(error)) {
        return true;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::system_error& exception) {
        const auto& code = exception.code();
        return code == std::errc::not_connected || code == std::errc::broken_pipe ||
               code == std::errc::connection_reset;
    } catch (...) {
        return false;
    }
}

void ScreenStreamBroadcaster::startConnectionLostTeardown(std::exception_ptr error) {
    auto self = shared_from_this();
    spawnDetached("connection-lost teardown", [self, error]() -> asio::awaitable<void> {
        // Named before it is awaited: GCC 12 mangles a temporary of this type inside co_await.
        std::optional<State> lost = State::failed("Connection lost");
        co_await self->endSession(error, std::move(lost), true, true);
    });
}

void ScreenStreamBroadcaster::spawnDetached(std::string name, std::function<asio::awaitable<void>()> body) {
    std::erase_if(teardownTasks_, [](const Task& task) { return task.isFinished(); });
    teardownTasks_.push_back(Task::spawn(
        actor_.executor(), [body = std::move(body)]() -> asio::awaitable<void> { co_await body(); },
        std::move(name)));
}

asio::awaitable<void> ScreenStreamBroadcaster::endSession(std::exception_ptr error,
                                                          std::optional<State> state, bool clearPairingPrompt,
                                                          bool restartListening) {
    auto self = shared_from_this();
    // The teardown runs as a task of its own, so that cancelling the caller (often the control loop, which
    // the teardown itself cancels) cannot stop it half-way; the caller only waits for it.
    struct Arguments {
        std::exception_ptr error;
        std::optional<State> state;
        bool clearPairingPrompt;
        bool restartListening;
    } arguments{std::move(error), std::move(state), clearPairingPrompt, restartListening};
    co_await actor_.run([this, &arguments]() -> asio::awaitable<void> {
        std::erase_if(teardownTasks_, [](const Task& task) { return task.isFinished(); });
        Task task = Task::spawn(
            actor_.executor(),
            [self = shared_from_this(), arguments]() -> asio::awaitable<void> {
                co_await self->runEndSession(arguments.error, arguments.state, arguments.clearPairingPrompt,
                                             arguments.restartListening);
            },
            "session teardown");
        auto join = task.join();
        teardownTasks_.push_back(std::move(task));
        co_await std::move(join);
    });
}

asio::awaitable<void> ScreenStreamBroadcaster::runEndSession(std::exception_ptr error,
                                                             std::optional<State> state,
                                                             bool clearPairingPrompt, bool restartListening) {
    // 1. One teardown at a time.
    if (isTearingDownSession_) {
        co_return;
    }
    isTearingDownSession_ = true;
    // 2-3. Power, then a fresh session identity that retires every callback of the old connection.
    endConnectionActivity();
    sessionID_ = Uuid::random();
    // 4. The inbound streams (the control loop among them).
    inboundStreamTask_.cancel();
    for (auto& task : inboundStreamHandlerTasks_) {
        task.cancel();
    }
    // 5. An active clipboard stream aborts with the clipboard code.
    clipboardTransfers_->abortForSessionEnd();
    // 6. Session tasks.
    videoPipeline_->cancelSending();
    keyboardReporting_->endSession();
    sessionSetupTimeoutTask_.cancel();
    // 7. Scroll momentum ends with one end scroll.
    scrollMomentum_->stop();
    // 8-9. Held buttons and keys are released.
    releaseRemoteInput();
    // 10. Unexpected ends are logged once.
    if (error && !isCancellationError(error)) {
        logger_.error("QUIC transport failed: ", errorDescription(error));
    }
    // 11. The connection goes; it is closed once its last written bytes had a moment to leave.
    auto closingConnection = std::move(connection_);
    auto closingControlStream = std::move(controlStream_);
    connection_.reset();
    controlStream_.reset();
    videoPipeline_->closeMediaStream();
    audioPipeline_->endSessionTransport();
    if (closingConnection) {
        closeAfterFlush(std::move(closingConnection), std::move(closingControlStream));
    }
    videoPipeline_->resetForNextSession();
    // 12.
    inboundStreamTask_ = Task();
    inboundStreamHandlerTasks_.clear();
    clipboardTransfers_->endSession();
    sessionSetupTimeoutTask_ = Task();
    // 13-14.
    videoPipeline_->endSession();
    // 15.
    isReceiverReady_ = false;
    isAuthorized_ = false;
    // 16-19. The Persona camera, then the microphone.
    co_await inboundStreamRouter_->endSession();
    // 20-21. Pairing.
    endAdmission(clearPairingPrompt);
    // 22. Encoders start over.
    videoPipeline_->requestKeyFrame();
    audioPipeline_->startOver();
    // 23-24.
    if (state) {
        updates_.yield(*state);
    }
    if (restartListening && listener_->isWanted()) {
        listener_->resume();
        if (!connection_ && listener_->isReady()) {
            updates_.yield(State::listening());
        }
    } else if (restartListening) {
        // Listening was stopped while this teardown ran (its connection was already gone, so the stop
        // reported idle at once): it stays stopped, and idle is the last word.
        updates_.yield(State::idle());
    }
    // 25.
    isTearingDownSession_ = false;
}

void ScreenStreamBroadcaster::closeAfterFlush(std::shared_ptr<QuicConnection> connection,
                                              std::shared_ptr<QuicStream> controlStream) {
    // No callback of the old connection may reach the session any more.
    connection->setStateHandler(actor_.executor(), [](const QuicConnectionState&) {});
    std::erase_if(closingConnectionTasks_, [](const Task& task) { return task.isFinished(); });
    closingConnectionTasks_.push_back(Task::spawn(
        actor_.executor(),
        [connection, controlStream, clock = dependencies_.clock,
         limit = dependencies_.closeFlushLimit]() -> asio::awaitable<void> {
            // The last written bytes (an acknowledgement of a disconnect, a refusal) get a bounded moment to
            // be delivered before the close discards them: the control stream is ended rather than reset
            // (which would drop what is unacknowledged), and the close waits for the data in flight.
            const auto deadline = clock->now() + limit;
            Task ending;
            auto ended = std::make_shared<bool>(controlStream == nullptr);
            if (controlStream) {
                // No co_await in the same expression as the lambda (GCC 12 destroys such temporaries twice).
                const auto executor = co_await asio::this_coro::executor;
                ending = Task::spawn(
                    executor,
                    [controlStream, ended]() -> asio::awaitable<void> {
                        try {
                            co_await controlStream->send({}, true);
                        } catch (const std::exception&) {
                        }
                        *ended = true;
                    },
                    "control stream end");
            }
            constexpr auto pollInterval = std::chrono::milliseconds(5);
            while (connection->state().kind == QuicConnectionState::Kind::ready && clock->now() < deadline &&
                   (!*ended || connection->statistics().bytesInFlight > 0)) {
                co_await clock->sleepFor(pollInterval);
            }
            connection->close(0);
        },
        "connection close"));
}

}  // namespace quillbridge
