#include "session/ScreenStreamBroadcaster.hpp"

#include <utility>

#include <asio/post.hpp>
#include <asio/this_coro.hpp>

#include "core/AsyncChannel.hpp"

namespace quillbridge {

namespace {

constexpr std::string_view serviceType = "_quillbridge._udp";

std::string withDescription(std::string_view prefix, std::string_view description) {
    return std::string(prefix) + ": " + std::string(description);
}

// Stops a browser or an advertiser when the scope that started it ends, however it ends.
template <class Service>
struct StopOnExit {
    Service* service;
    ~StopOnExit() {
        if (service != nullptr) {
            service->stop();
        }
    }
};

}  // namespace

asio::awaitable<void> ScreenStreamBroadcaster::startListening() {
    auto self = shared_from_this();
    co_await actor_.call([this] {
        isListeningWanted_ = true;
        startListeningOnActor();
    });
}

asio::awaitable<void> ScreenStreamBroadcaster::restartListening() {
    auto self = shared_from_this();
    co_await actor_.call([this] {
        isListeningWanted_ = true;
        restartListeningOnActor();
    });
}

void ScreenStreamBroadcaster::startListeningOnActor() {
    startLocalNetworkProbe();
    if (listenerTask_.isFinished() && !listenerStarted_) {
        listenerStarted_ = true;
        auto self = shared_from_this();
        listenerTask_ = Task::spawn(
            actor_.executor(), [self]() -> asio::awaitable<void> { co_await self->runListener(); },
            "listener");
    }
}

void ScreenStreamBroadcaster::restartListeningOnActor() {
    stopListeningOnActor();
    startListeningOnActor();
}

ServiceAdvertisement ScreenStreamBroadcaster::makeAdvertisement(std::uint16_t port) const {
    ServiceAdvertisement advertisement;
    advertisement.name = localPeerIdentity_.name;
    advertisement.type = std::string(serviceType);
    advertisement.txtRecord = {{"peer_id", localPeerIdentity_.id.string()},
                               {"mac_form", std::string(hostFormFactorText(dependencies_.hostFormFactor))}};
    advertisement.port = port;
    return advertisement;
}

asio::awaitable<void> ScreenStreamBroadcaster::runListener() {
    if (!tlsIdentity_ || !localSigningPrivateKey_) {
        updates_.yield(State::failed("Missing local security identity"));
        co_return;
    }
    const std::uint64_t generation = ++listenerGeneration_;
    // One capture per listener run, shared by its certificate validator and the sessions it accepts.
    auto capture = std::make_shared<PeerCertificateCapture>(*dependencies_.clock);

    QuicListenerParameters parameters;
    parameters.port = dependencies_.listenPort;
    parameters.bindAddress = dependencies_.bindAddress;
    parameters.identity = *tlsIdentity_;
    parameters.certificateValidator = [capture](ByteView certificate) {
        if (certificate.empty()) {
            return false;
        }
        return capture->recordHandshakeCertificate(certificate, Date::now());
    };

    std::shared_ptr<QuicListener> listener;
    std::exception_ptr failure;
    try {
        listener = co_await dependencies_.transport->listen(std::move(parameters));
    } catch (...) {
        failure = std::current_exception();
    }
    if (isCancelled(co_await asio::this_coro::cancellation_state) || generation != listenerGeneration_) {
        if (listener) {
            listener->stop();
        }
        co_return;
    }
    if (failure) {
        if (isLocalNetworkDeniedError(failure)) {
            updates_.yield(State::localNetworkPermissionDenied());
        } else {
            updates_.yield(State::failed(withDescription("Listener error", errorDescription(failure))));
        }
        co_return;
    }
    quicListener_ = listener;

    // Advertise the port; the advertisement's states are the listener's states.
    advertiser_ = dependencies_.makeAdvertiser();
    if (advertiser_) {
        std::weak_ptr<ScreenStreamBroadcaster> weakSelf = shared_from_this();
        advertiser_->start(
            makeAdvertisement(listener->localPort()),
            [weakSelf, generation, executor = actor_.executor()](const ServiceDiscoveryState& state) {
                asio::post(executor, [weakSelf, generation, state] {
                    auto self = weakSelf.lock();
                    if (self && self->listenerGeneration_ == generation) {
                        self->handleListenerState(state);
                    }
                });
            });
    } else {
        logger_.error("No service advertiser: the host is not advertised");
    }

    for (;;) {
        std::shared_ptr<QuicConnection> connection;
        try {
            connection = co_await listener->accept();
        } catch (...) {
            failure = std::current_exception();
        }
        if (isCancelled(co_await asio::this_coro::cancellation_state) || generation != listenerGeneration_) {
            if (connection) {
                connection->close(0);
            }
            co_return;
        }
        if (failure) {
            isListenerReady_ = false;
            if (advertiser_) {
                advertiser_->stop();
                advertiser_.reset();
            }
            quicListener_.reset();
            if (isLocalNetworkDeniedError(failure)) {
                updates_.yield(State::localNetworkPermissionDenied());
            } else {
                updates_.yield(State::failed(withDescription("Listener error", errorDescription(failure))));
            }
            co_return;
        }
        co_await accept(std::move(connection), capture);
    }
}

void ScreenStreamBroadcaster::handleListenerState(const ServiceDiscoveryState& state) {
    switch (state.status) {
        case ServiceDiscoveryState::Status::ready:
            isListenerReady_ = true;
            if (!connection_ && isLocalNetworkProbeReady_) {
                updates_.yield(State::listening());
            }
            return;
        case ServiceDiscoveryState::Status::waiting:
        case ServiceDiscoveryState::Status::failed: {
            isListenerReady_ = false;
            const ServiceDiscoveryError error = state.error.value_or(ServiceDiscoveryError{});
            if (isLocalNetworkDeniedError(error)) {
                updates_.yield(State::localNetworkPermissionDenied());
            } else {
                const bool waiting = state.status == ServiceDiscoveryState::Status::waiting;
                updates_.yield(State::failed(withDescription(waiting ? "Listener waiting" : "Listener failed",
                                                             error.localizedDescription)));
            }
            return;
        }
    }
}

void ScreenStreamBroadcaster::startLocalNetworkProbe() {
    if (localNetworkProbeNeedsRetry_) {
        cancelLocalNetworkProbe();
    }
    if (isLocalNetworkProbeReady_ || !localNetworkProbeTask_.isFinished()) {
        return;
    }
    const std::uint64_t generation = ++localNetworkProbeGeneration_;
    updates_.yield(State::localNetworkPermissionChecking());
    auto self = shared_from_this();
    localNetworkProbeTask_ = Task::spawn(
        actor_.executor(),
        [self, generation]() -> asio::awaitable<void> { co_await self->runLocalNetworkProbe(generation); },
        "local network probe");
}

void ScreenStreamBroadcaster::cancelLocalNetworkProbe() {
    ++localNetworkProbeGeneration_;
    localNetworkProbeTask_.cancel();
    localNetworkProbeTask_ = Task();
    isLocalNetworkProbeReady_ = false;
    localNetworkProbeNeedsRetry_ = false;
}

asio::awaitable<void> ScreenStreamBroadcaster::runLocalNetworkProbe(std::uint64_t generation) {
    auto browser = dependencies_.makeBrowser ? dependencies_.makeBrowser() : nullptr;
    if (!browser) {
        if (generation == localNetworkProbeGeneration_) {
            isLocalNetworkProbeReady_ = false;
            localNetworkProbeNeedsRetry_ = true;
            updates_.yield(State::localNetworkPermissionCheckFailed(
                withDescription("Local Network access error", "Service discovery is unavailable")));
        }
        co_return;
    }
    StopOnExit<ServiceBrowser> stopBrowser{browser.get()};
    std::weak_ptr<ScreenStreamBroadcaster> weakSelf = shared_from_this();
    const auto executor = actor_.executor();
    browser->start(
        std::string(serviceType),
        [weakSelf, generation, executor](const ServiceDiscoveryState& state) {
            asio::post(executor, [weakSelf, generation, state] {
                if (auto self = weakSelf.lock()) {
                    self->handleLocalNetworkProbeFailure(state, generation);
                }
            });
        },
        [weakSelf, generation, executor](const std::vector<ServiceBrowseResult>& results) {
            if (results.empty()) {
                return;
            }
            asio::post(executor, [weakSelf, generation] {
                if (auto self = weakSelf.lock()) {
                    self->localNetworkProbeSucceeded(generation);
                }
            });
        });
    // The browse runs until the probe is cancelled.
    AsyncChannel<bool> never;
    co_await never.receive();
}

void ScreenStreamBroadcaster::handleLocalNetworkProbeFailure(const ServiceDiscoveryState& state,
                                                             std::uint64_t generation) {
    if (generation != localNetworkProbeGeneration_ || state.status == ServiceDiscoveryState::Status::ready) {
        return;
    }
    isLocalNetworkProbeReady_ = false;
    localNetworkProbeNeedsRetry_ = true;
    const ServiceDiscoveryError error = state.error.value_or(ServiceDiscoveryError{});
    if (isLocalNetworkDeniedError(error)) {
        updates_.yield(State::localNetworkPermissionDenied());
        return;
    }
    const bool waiting = state.status == ServiceDiscoveryState::Status::waiting;
    updates_.yield(State::localNetworkPermissionCheckFailed(
        withDescription(waiting ? "Local Network access waiting" : "Local Network access failed",
                        error.localizedDescription)));
}

void ScreenStreamBroadcaster::localNetworkProbeSucceeded(std::uint64_t generation) {
    if (generation != localNetworkProbeGeneration_ || isLocalNetworkProbeReady_) {
        return;
    }
    isLocalNetworkProbeReady_ = true;
    localNetworkProbeNeedsRetry_ = false;
    updates_.yield(State::localNetworkPermissionGranted());
    if (!connection_ && isListenerReady_) {
        updates_.yield(State::listening());
    }
}

}  // namespace quillbridge
