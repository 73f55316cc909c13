#pragma once

#include <cstdint>
#include <memory>

#include <asio/awaitable.hpp>

#include "core/Logger.hpp"
#include "core/Task.hpp"
#include "session/QuicListener.hpp"
#include "session/ScreenStreamBroadcasterDependencies.hpp"
#include "session/ServiceAdvertiser.hpp"
#include "session/ServiceDiscoveryState.hpp"
#include "session/SessionContext.hpp"
#include "wire/LocalDeviceIdentity.hpp"

namespace quillbridge {

// The session's listener: the QUIC listener and its advertisement on the local network, the Local Network
// probe (a browse for the host's own service type that proves the system lets the host use the network),
// and the peer-to-peer flag the next listener is built with. It owns all of their state and tasks, and hands
// each accepted connection to the session. Runs on the session's strand; every member is called there.
class Listener {
public:
    Listener(SessionContext& session, const ScreenStreamBroadcasterDependencies& dependencies,
             LocalDeviceIdentity localPeerIdentity);

    // Marks listening as wanted, starts the probe and, unless one runs, the listener.
    void start();
    // Marks listening as wanted, stops the probe and the listener and starts both again.
    void restart();
    // Marks listening as no longer wanted and stops the listener and the probe.
    void stop();
    // Stops the listener and the probe for now (while a session runs), leaving listening wanted.
    void pause();
    // Whether the owner wants the host to listen: set by starting or restarting listening, cleared by
    // stopping it. A session's teardown starts listening again only while this holds.
    bool isWanted() const { return isListeningWanted_; }
    // Starts the probe and the listener again after a session, without changing whether listening is wanted.
    void resume();
    // Whether both the advertisement and the probe report ready.
    bool isReady() const { return isListenerReady_ && isLocalNetworkProbeReady_; }

    bool peerToPeerEnabled() const { return peerToPeerEnabled_; }
    void setPeerToPeerEnabled(bool enabled) { peerToPeerEnabled_ = enabled; }

private:
    friend struct ScreenStreamBroadcasterTestAccess;

    asio::awaitable<void> runListener();
    // Clears the listener after its accept loop failed and reports why.
    void handleListenerFailure(const std::exception_ptr& failure);
    void handleListenerState(const ServiceDiscoveryState& state);
    void startAdvertising(std::uint16_t port, std::uint64_t generation);
    void startLocalNetworkProbe();
    void cancelLocalNetworkProbe();
    asio::awaitable<void> runLocalNetworkProbe(std::uint64_t generation);
    void handleLocalNetworkProbeFailure(const ServiceDiscoveryState& state, std::uint64_t generation);
    void localNetworkProbeSucceeded(std::uint64_t generation);
    ServiceAdvertisement makeAdvertisement(std::uint16_t port) const;

    SessionContext& session_;
    const ScreenStreamBroadcasterDependencies& dependencies_;
    const LocalDeviceIdentity localPeerIdentity_;
    Logger logger_{"ScreenStreamBroadcaster"};

    Task listenerTask_;
    Task localNetworkProbeTask_;
    std::uint64_t localNetworkProbeGeneration_ = 0;
    bool localNetworkProbeNeedsRetry_ = false;
    bool isListenerReady_ = false;
    bool isLocalNetworkProbeReady_ = false;
    bool peerToPeerEnabled_ = false;
    // Whether a listener task was started and not cleared since (a failed listener stays until cleared).
    bool listenerStarted_ = false;
    bool isListeningWanted_ = false;
    // Fences the callbacks of earlier listener runs.
    std::uint64_t listenerGeneration_ = 0;
    // The running listener and its advertisement, stopped when listening stops.
    std::shared_ptr<QuicListener> quicListener_;
    std::unique_ptr<ServiceAdvertiser> advertiser_;
};

}  // namespace quillbridge
