#include "session/Listener.hpp"

#include <utility>

#include <asio/post.hpp>
#include <asio/this_coro.hpp>

#include "core/AsyncChannel.hpp"
#include "core/Date.hpp"
#include "session/SessionErrors.hpp"

namespace quillbridge {

namespace {

using State = ScreenStreamBroadcasterState;

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

Listener::Listener(SessionContext& session, const ScreenStreamBroadcasterDependencies& dependencies,
                   LocalDeviceIdentity localPeerIdentity)
    : session_(session),
      dependencies_(dependencies),
      localPeerIdentity_(std::move(localPeerIdentity)),
      peerToPeerEnabled_(dependencies.peerToPeerEnabled) {}

void Listener::start() {
    isListeningWanted_ = true;
    resume();
}

void Listener::restart() {
    isListeningWanted_ = true;
    pause();
    resume();
}

void Listener::stop() {
    isListeningWanted_ = false;
    pause();
}

void Listener::resume() {
    startLocalNetworkProbe();
    if (listenerTask_.isFinished() && !listenerStarted_) {
        listenerStarted_ = true;
        listenerTask_ = Task::spawn(
            session_.executor(),
            [this, owner = session_.keepAlive()]() -> asio::awaitable<void> { co_await runListener(); },
            "listener");
    }
}

void Listener::pause() {
    cancelLocalNetworkProbe();
    listenerTask_.cancel();
    listenerTask_ = Task();
    listenerStarted_ = false;
    ++listenerGeneration_;
    if (quicListener_) {
        quicListener_->stop();
        quicListener_.reset();
    }
    if (advertiser_) {
        advertiser_->stop();
        advertiser_.reset();
    }
    isListenerReady_ = false;
}

ServiceAdvertisement Listener::makeAdvertisement(std::uint16_t port) const {
    ServiceAdvertisement advertisement;
    advertisement.name = localPeerIdentity_.name;
    advertisement.type = std::string(serviceType);
    advertisement.txtRecord = {{"peer_id", localPeerIdentity_.id.string()},
                               {"mac_form", std::string(hostFormFactorText(dependencies_.hostFormFactor))}};
    advertisement.port = port;
    return advertisement;
}

asio::awaitable<void> Listener::runListener() {
    const TLSIdentity* identity = session_.listenerIdentity();
    if (identity == nullptr) {
        session_.publishState(State::failed("Missing local security identity"));
        co_return;
    }
    const std::uint64_t generation = ++listenerGeneration_;
    // One capture per listener run, shared by its certificate validator and the sessions it accepts.
    auto capture = std::make_shared<PeerCertificateCapture>(*dependencies_.clock);

    QuicListenerParameters parameters;
    parameters.port = dependencies_.listenPort;
    parameters.bindAddress = dependencies_.bindAddress;
    parameters.identity = *identity;
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
        handleListenerFailure(failure);
        co_return;
    }
    quicListener_ = listener;
    startAdvertising(listener->localPort(), generation);

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
            handleListenerFailure(failure);
            co_return;
        }
        co_await session_.acceptConnection(std::move(connection), capture);
    }
}

void Listener::handleListenerFailure(const std::exception_ptr& failure) {
    if (isLocalNetworkDeniedError(failure)) {
        session_.publishState(State::localNetworkPermissionDenied());
    } else {
        session_.publishState(State::failed(withDescription("Listener error", errorDescription(failure))));
    }
}

void Listener::startAdvertising(std::uint16_t port, std::uint64_t generation) {
    // Advertise the port; the advertisement's states are the listener's states.
    advertiser_ = dependencies_.makeAdvertiser();
    if (!advertiser_) {
        logger_.error("No service advertiser: the host is not advertised");
        return;
    }
    advertiser_->start(makeAdvertisement(port),
                       [this, weakOwner = session_.weakKeepAlive(), generation,
                        executor = session_.executor()](const ServiceDiscoveryState& state) {
                           asio::post(executor, [this, weakOwner, generation, state] {
                               auto owner = weakOwner.lock();
                               if (owner && listenerGeneration_ == generation) {
                                   handleListenerState(state);
                               }
                           });
                       });
}

void Listener::handleListenerState(const ServiceDiscoveryState& state) {
    switch (state.status) {
        case ServiceDiscoveryState::Status::ready:
            isListenerReady_ = true;
            if (!session_.hasConnection() && isLocalNetworkProbeReady_) {
                session_.publishState(State::listening());
            }
            return;
        case ServiceDiscoveryState::Status::waiting:
        case ServiceDiscoveryState::Status::failed: {
            isListenerReady_ = false;
            const ServiceDiscoveryError error = state.error.value_or(ServiceDiscoveryError{});
            if (isLocalNetworkDeniedError(error)) {
                session_.publishState(State::localNetworkPermissionDenied());
            } else {
                const bool waiting = state.status == ServiceDiscoveryState::Status::waiting;
                session_.publishState(State::failed(withDescription(
                    waiting ? "Listener waiting" : "Listener failed", error.localizedDescription)));
            }
            return;
        }
    }
}

void Listener::startLocalNetworkProbe() {
    if (localNetworkProbeNeedsRetry_) {
        cancelLocalNetworkProbe();
    }
    if (isLocalNetworkProbeReady_ || !localNetworkProbeTask_.isFinished()) {
        return;
    }
    const std::uint64_t generation = ++localNetworkProbeGeneration_;
    session_.publishState(State::localNetworkPermissionChecking());
    localNetworkProbeTask_ = Task::spawn(
        session_.executor(),
        [this, owner = session_.keepAlive(), generation]() -> asio::awaitable<void> {
            co_await runLocalNetworkProbe(generation);
        },
        "local network probe");
}

void Listener::cancelLocalNetworkProbe() {
    ++localNetworkProbeGeneration_;
    localNetworkProbeTask_.cancel();
    localNetworkProbeTask_ = Task();
    isLocalNetworkProbeReady_ = false;
    localNetworkProbeNeedsRetry_ = false;
}

asio::awaitable<void> Listener::runLocalNetworkProbe(std::uint64_t generation) {
    auto browser = dependencies_.makeBrowser ? dependencies_.makeBrowser() : nullptr;
    if (!browser) {
        if (generation == localNetworkProbeGeneration_) {
            isLocalNetworkProbeReady_ = false;
            localNetworkProbeNeedsRetry_ = true;
            session_.publishState(State::localNetworkPermissionCheckFailed(
                withDescription("Local Network access error", "Service discovery is unavailable")));
        }
        co_return;
    }
    StopOnExit<ServiceBrowser> stopBrowser{browser.get()};
    const std::weak_ptr<void> weakOwner = session_.weakKeepAlive();
    const auto executor = session_.executor();
    browser->start(
        std::string(serviceType),
        [this, weakOwner, generation, executor](const ServiceDiscoveryState& state) {
            asio::post(executor, [this, weakOwner, generation, state] {
                if (auto owner = weakOwner.lock()) {
                    handleLocalNetworkProbeFailure(state, generation);
                }
            });
        },
        [this, weakOwner, generation, executor](const std::vector<ServiceBrowseResult>& results) {
            if (results.empty()) {
                return;
            }
            asio::post(executor, [this, weakOwner, generation] {
                if (auto owner = weakOwner.lock()) {
                    localNetworkProbeSucceeded(generation);
                }
            });
        });
    // The browse runs until the probe is cancelled.
    AsyncChannel<bool> never;
    co_await never.receive();
}

void Listener::handleLocalNetworkProbeFailure(const ServiceDiscoveryState& state, std::uint64_t generation) {
    if (generation != localNetworkProbeGeneration_ || state.status == ServiceDiscoveryState::Status::ready) {
        return;
    }
    isLocalNetworkProbeReady_ = false;
    localNetworkProbeNeedsRetry_ = true;
    const ServiceDiscoveryError error = state.error.value_or(ServiceDiscoveryError{});
    if (isLocalNetworkDeniedError(error)) {
        session_.publishState(State::localNetworkPermissionDenied());
        return;
    }
    const bool waiting = state.status == ServiceDiscoveryState::Status::waiting;
    session_.publishState(State::localNetworkPermissionCheckFailed(
        withDescription(waiting ? "Local Network access waiting" : "Local Network access failed",
                        error.localizedDescription)));
}

void Listener::localNetworkProbeSucceeded(std::uint64_t generation) {
    if (generation != localNetworkProbeGeneration_ || isLocalNetworkProbeReady_) {
        return;
    }
    isLocalNetworkProbeReady_ = true;
    localNetworkProbeNeedsRetry_ = false;
    session_.publishState(State::localNetworkPermissionGranted());
    if (!session_.hasConnection() && isListenerReady_) {
        session_.publishState(State::listening());
    }
}

}  // namespace quillbridge
