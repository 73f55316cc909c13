// The broadcaster's advertisement through the real Avahi daemon while a headset is admitted over the real
// QUIC transport: a browser sees the host while it listens, sees it withdrawn once a headset's session is
// authorised, and sees it again when that session ends. Runs only through run-in-netns.sh, which gives the
// suite a network namespace of its own with a private dbus-daemon and avahi-daemon; run directly, it skips.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "core/BlockingWorkPool.hpp"
#include "core/SteadyClock.hpp"
#include "pairing/P256SigningKey.hpp"
#include "pairing/PairedPeerStore.hpp"
#include "pairing/SessionAuthentication.hpp"
#include "platform/linux/avahi/AvahiServiceAdvertiser.hpp"
#include "platform/linux/avahi/AvahiServiceBrowser.hpp"
#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "session/QuicError.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "session/quic/LoopbackEventLoop.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/FakeSecretStore.hpp"
#include "support/quic/QuicTestClient.hpp"
#include "support/quic/TestLoopback.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Case = StreamControlMessage::Case;

constexpr std::string_view hostName = "Advertised Host";

// What a browser on the namespace's network sees, reported from Avahi's thread.
class BrowseRecorder {
public:
    ServiceBrowser::ResultsHandler resultsHandler() {
        return [this](const std::vector<ServiceBrowseResult>& results) {
            std::lock_guard lock(mutex_);
            results_ = results;
        };
    }

    std::optional<ServiceBrowseResult> named(std::string_view name) const {
        std::lock_guard lock(mutex_);
        auto found = std::ranges::find_if(results_, [&](const auto& result) { return result.name == name; });
        if (found == results_.end()) {
            return std::nullopt;
        }
        return *found;
    }

private:
    mutable std::mutex mutex_;
    std::vector<ServiceBrowseResult> results_;
};

class BroadcasterAdvertisementTest : public LoopbackEventLoop {
protected:
    struct Headset {
        std::shared_ptr<QuicConnection> connection;
        std::shared_ptr<QuicStream> control;
    };

    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_AVAHI_NETNS_SCRIPT") == nullptr) {
            GTEST_SKIP() << "needs the private namespaces of run-in-netns.sh";
        }
        // Publishing probes the network for about a second before the name is announced.
        waitBound = 20s;

        ScreenStreamBroadcasterDependencies dependencies;
        dependencies.executor = context.get_executor();
        dependencies.transport = &host;
        dependencies.makeAdvertiser = [] { return std::make_unique<AvahiServiceAdvertiser>(); };
        dependencies.makeBrowser = [] { return std::make_unique<AvahiServiceBrowser>(); };
        dependencies.clock = &clock;
        dependencies.defaults = &defaults;
        dependencies.secrets = &secrets;
        dependencies.hostDisplayName = std::string(hostName);
        dependencies.listenPort = 0;
        dependencies.bindAddress = testLoopbackAddress();
        dependencies.blockingWork = pool.get();
        broadcaster = ScreenStreamBroadcaster::create(std::move(dependencies));

        // The headset was paired in an earlier run.
        PairedPeerStore(defaults, secrets, PairingRole::mac)
            .upsert(PairedPeerRecord{headsetID, "Advertised Headset", key.publicKey().rawRepresentation(),
                                     std::nullopt, std::nullopt});

        browser.start(
            "_quillbridge._udp", [](const ServiceDiscoveryState&) {}, browsed.resultsHandler());
        run(broadcaster->startListening());
    }

    void TearDown() override {
        browser.stop();
        if (broadcaster) {
            run(broadcaster->stop());
            runFor(50ms);
            broadcaster.reset();
        }
        runFor(20ms);
        pool.reset();
    }

    // The port the browser resolves the host's advertisement to, once it sees it.
    std::uint16_t resolvedPort() {
        std::optional<ServiceBrowseResult> found;
        if (!runUntil([&] { return (found = browsed.named(hostName)).has_value(); })) {
            throw std::runtime_error("the browser never saw the host");
        }
        std::optional<std::expected<ResolvedService, ServiceDiscoveryError>> resolved;
        std::mutex mutex;
        browser.resolve(*found, [&](std::expected<ResolvedService, ServiceDiscoveryError> outcome) {
            std::lock_guard lock(mutex);
            resolved = std::move(outcome);
        });
        if (!runUntil([&] {
                std::lock_guard lock(mutex);
                return resolved.has_value();
            })) {
            throw std::runtime_error("the resolution never ended");
        }
        std::lock_guard lock(mutex);
        if (!*resolved) {
            throw std::runtime_error("the host's advertisement did not resolve: " +
                                     resolved->error().localizedDescription);
        }
        EXPECT_EQ((*resolved)->txtRecord["peer_id"], broadcaster->localPeerIdentity().id.string());
        return (*resolved)->port;
    }

    bool withdrawn() {
        return runUntil([&] { return !browsed.named(hostName).has_value(); });
    }

    void send(Headset& headset, const StreamControlMessage& message) {
        run(headset.control->send(ControlMessageFraming::encode(message), false));
    }

    template <Case C>
    auto expect(Headset& headset) {
        auto decoded = readControlMessage(*headset.control);
        if (!decoded || decoded->messageCase() != C) {
            throw std::runtime_error("unexpected control message");
        }
        return *decoded->template get<C>();
    }

    // Connects to the advertised port and authenticates as the paired headset.
    Headset admit(QuicTestClient& client, std::uint16_t port) {
        Headset headset;
        headset.connection = run(client.connect(port));
        headset.control = run(headset.connection->openStream(QuicStreamDirectionality::bidirectional));
        send(headset, StreamControlMessage::make<Case::hello>(
                          SessionHelloMessage{headsetID, "Advertised Headset", false, 19, 19}));
        expect<Case::hello>(headset);
        const Bytes nonce = expect<Case::authenticate>(headset).serverNonce;
        AuthenticationResponseMessage response;
        response.peerID = headsetID;
        response.displayName = "Advertised Headset";
        response.clientSignature = *key.signature(SessionAuthentication::signedPayload(
            SessionAuthentication::Side::client, headsetID, broadcaster->localPeerIdentity().id, nonce));
        response.clientNonce = Bytes(32, 3);
        send(headset, StreamControlMessage::make<Case::authenticationResponse>(response));
        EXPECT_TRUE(expect<Case::authenticationResult>(headset).accepted);
        expect<Case::certificateRotation>(headset);
        expect<Case::displayGeometry>(headset);
        return headset;
    }

    SteadyClock clock;
    LinuxQuicTransport host;
    FakeDefaultsStore defaults;
    FakeSecretStore secrets;
    // Destroyed before the context its callers resume on.
    std::unique_ptr<BlockingWorkPool> pool = std::make_unique<BlockingWorkPool>();
    AvahiServiceBrowser browser;
    BrowseRecorder browsed;
    std::shared_ptr<ScreenStreamBroadcaster> broadcaster;
    const Uuid headsetID = Uuid::random();
    const P256SigningKey key = P256SigningKey::generate();
};

TEST_F(BroadcasterAdvertisementTest, AdvertisementIsWithdrawnWhileAnAuthorisedSessionLasts) {
    const std::uint16_t port = resolvedPort();
    QuicTestClient client;
    {
        auto headset = admit(client, port);
        EXPECT_TRUE(withdrawn()) << "the host is still advertised during an authorised session";
        // Nor can another headset get in through the port it found earlier.
        QuicTestClient intruder;
        try {
            run(intruder.connect(port));
            ADD_FAILURE() << "a second headset connected during an authorised session";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), QuicError::handshakeFailed) << error.what();
        }

        send(headset, StreamControlMessage::make<Case::sessionDisconnectRequest>());
        expect<Case::sessionDisconnectAcknowledged>(headset);
    }

    // Listening resumes when the session ends: advertised again, and the headset comes back.
    auto headset = admit(client, resolvedPort());
    EXPECT_TRUE(withdrawn());
}

}  // namespace
}  // namespace quillbridge
