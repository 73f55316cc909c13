#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "session/ScreenStreamBroadcaster.hpp"
#include "session/ScreenStreamBroadcasterFixture.hpp"

namespace quillbridge {
namespace {

using Status = ServiceDiscoveryState::Status;

class BroadcasterListenerTest : public ScreenStreamBroadcasterFixture {};

TEST_F(BroadcasterListenerTest, ConstructionYieldsIdleAndNoPromptAndStartsNothing) {
    EXPECT_EQ(updates(), std::vector<State>{State::idle()});
    EXPECT_EQ(taken(broadcaster->pairingPrompts()),
              std::vector<std::optional<ScreenStreamBroadcaster::PairingPrompt>>{std::nullopt});
    EXPECT_EQ(transport.listenCount(), 0);
    EXPECT_TRUE(discovery.browsers().empty());
}

TEST_F(BroadcasterListenerTest, ListeningFollowsWhicheverOfListenerAndProbeIsReadySecond) {
    struct Order {
        const char* name;
        bool probeFirst;
    };
    for (const Order order : {Order{"probe first", true}, Order{"listener first", false}}) {
        SCOPED_TRACE(order.name);
        TearDown();
        discovery.respondsAutomatically = false;
        makeBroadcaster();
        updates();
        startListening();
        auto* advertiser = discovery.lastAdvertiser();
        auto* browser = discovery.lastBrowser();
        ASSERT_NE(advertiser, nullptr);
        ASSERT_NE(browser, nullptr);
        EXPECT_EQ(updates(), std::vector<State>{State::localNetworkPermissionChecking()});

        if (order.probeFirst) {
            // Another host's service makes the browse succeed before our own advertisement is up.
            discovery.addRemoteService(
                {"Other", "_quillbridge._udp", "local", "other.local", "192.0.2.1", 49555, {}});
            browser->reportState(ServiceDiscoveryState::ready());
            drain();
            EXPECT_EQ(updates(), std::vector<State>{State::localNetworkPermissionGranted()});
            advertiser->reportState(ServiceDiscoveryState::ready());
            drain();
            EXPECT_EQ(updates(), std::vector<State>{State::listening()});
            discovery.removeRemoteService("Other", "_quillbridge._udp");
        } else {
            advertiser->reportState(ServiceDiscoveryState::ready());
            drain();
            EXPECT_EQ(updates(), std::vector<State>{});
            browser->reportState(ServiceDiscoveryState::ready());
            drain();
            EXPECT_EQ(updates(),
                      (std::vector<State>{State::localNetworkPermissionGranted(), State::listening()}));
        }
    }
}

TEST_F(BroadcasterListenerTest, StartingTwiceMakesOneListenerAndOneProbe) {
    startListening();
    startListening();
    EXPECT_EQ(transport.listenCount(), 1);
    EXPECT_EQ(discovery.browsers().size(), 1u);
    EXPECT_EQ(updates(), (std::vector<State>{State::idle(), State::localNetworkPermissionChecking(),
                                             State::localNetworkPermissionGranted(), State::listening()}));
}

TEST_F(BroadcasterListenerTest, AdvertisesTrimmedNameTypeTxtRecordAndListenerPort) {
    startListening();
    const auto& advertisement = discovery.lastAdvertiser()->advertisement();
    ASSERT_TRUE(advertisement.has_value());
    EXPECT_EQ(advertisement->name, "Studio Host");
    EXPECT_EQ(advertisement->type, "_quillbridge._udp");
    EXPECT_EQ(advertisement->port, 49555);
    const std::string peerID = broadcaster->localPeerIdentity().id.string();
    EXPECT_EQ(advertisement->txtRecord,
              (std::map<std::string, std::string>{{"peer_id", peerID}, {"mac_form", "desktop"}}));
    EXPECT_EQ(peerID.find_first_of("abcdef"), std::string::npos) << "the UUID is written in upper case";
    EXPECT_EQ(listener()->parameters().alpn, "quillbridge-spatial-stream");
    EXPECT_EQ(listener()->parameters().maximumDatagramFrameSize, 1200u);
    EXPECT_EQ(listener()->parameters().idleTimeout, std::chrono::milliseconds(15000));
}

TEST(HostDisplayNameTest, TrimsWhitespaceAndFallsBackToMac) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"Studio", "Studio"}, {"  Desk Box \n", "Desk Box"}, {"", "Mac"}, {" \t\n", "Mac"}};
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(hostDisplayName(input), expected) << "input '" << input << "'";
    }
}

class LaptopBroadcasterTest : public ScreenStreamBroadcasterFixture {
    void adjust(ScreenStreamBroadcasterDependencies& dependencies) override {
        dependencies.hostFormFactor = HostFormFactor::laptop;
    }
};

TEST_F(LaptopBroadcasterTest, AdvertisesLaptopForm) {
    startListening();
    EXPECT_EQ(discovery.lastAdvertiser()->advertisement()->txtRecord.at("mac_form"), "laptop");
}

class NoIdentityBroadcasterTest : public ScreenStreamBroadcasterFixture {
    void adjust(ScreenStreamBroadcasterDependencies&) override {
        secrets.writeFailure = SecretStoreError::ioFailure;
    }
};

TEST_F(NoIdentityBroadcasterTest, MissingIdentityFailsWithoutListening) {
    updates();
    startListening();
    EXPECT_EQ(transport.listenCount(), 0);
    EXPECT_EQ(discovery.advertisers().size(), 0u);
    const auto states = updates();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back(), State::failed("Missing local security identity"));
}

TEST_F(BroadcasterListenerTest, ListenErrorsBecomeFailedOrDenied) {
    struct Case {
        std::error_code error;
        State expected;
    };
    const std::vector<Case> cases{
        {make_error_code(QuicError::addressInUse),
         State::failed("Listener error: The port is already being listened on")},
        {std::make_error_code(std::errc::operation_not_permitted), State::localNetworkPermissionDenied()},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.expected.text);
        TearDown();
        makeBroadcaster();
        const int listensBefore = transport.listenCount();
        transport.failNextListen(testCase.error);
        startListening();
        const auto states = updates();
        ASSERT_FALSE(states.empty());
        EXPECT_EQ(states.back(), testCase.expected);
        // A failed listener stays until listening is restarted.
        startListening();
        EXPECT_EQ(transport.listenCount(), listensBefore + 1);
        run(broadcaster->restartListening());
        drain();
        EXPECT_EQ(transport.listenCount(), listensBefore + 2);
    }
}

TEST_F(BroadcasterListenerTest, AdvertiserStatesBecomeListenerStates) {
    struct Case {
        ServiceDiscoveryState state;
        State expected;
    };
    const ServiceDiscoveryError daemonDown{ServiceDiscoveryError::Domain::dns, -26, "Daemon not running"};
    const ServiceDiscoveryError denied{ServiceDiscoveryError::Domain::dns, -1,
                                       "Blocked by LOCAL network policy"};
    const ServiceDiscoveryError accessDenied{ServiceDiscoveryError::Domain::dns, -20, "Access denied"};
    const std::vector<Case> cases{
        {ServiceDiscoveryState::waiting(daemonDown), State::failed("Listener waiting: Daemon not running")},
        {ServiceDiscoveryState::failed(daemonDown), State::failed("Listener failed: Daemon not running")},
        {ServiceDiscoveryState::waiting(denied), State::localNetworkPermissionDenied()},
        {ServiceDiscoveryState::failed(accessDenied), State::localNetworkPermissionDenied()},
    };
    startListening();
    updates();
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.expected.text);
        discovery.lastAdvertiser()->reportState(testCase.state);
        drain();
        EXPECT_EQ(updates(), std::vector<State>{testCase.expected});
        // Ready again: listening again.
        discovery.lastAdvertiser()->reportState(ServiceDiscoveryState::ready());
        drain();
        EXPECT_EQ(updates(), std::vector<State>{State::listening()});
    }
}

TEST_F(BroadcasterListenerTest, ProbeFailuresAreReportedAndRetriedOnTheNextStart) {
    struct Case {
        ServiceDiscoveryState state;
        State expected;
    };
    const ServiceDiscoveryError daemonDown{ServiceDiscoveryError::Domain::dns, -26, "Daemon not running"};
    const std::vector<Case> cases{
        {ServiceDiscoveryState::waiting(daemonDown),
         State::localNetworkPermissionCheckFailed("Local Network access waiting: Daemon not running")},
        {ServiceDiscoveryState::failed(daemonDown),
         State::localNetworkPermissionCheckFailed("Local Network access failed: Daemon not running")},
        {ServiceDiscoveryState::failed({ServiceDiscoveryError::Domain::posix, EPERM, "Not allowed"}),
         State::localNetworkPermissionDenied()},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.expected.text);
        TearDown();
        discovery.respondsAutomatically = false;
        makeBroadcaster();
        startListening();
        updates();
        auto* firstBrowser = discovery.lastBrowser();
        firstBrowser->reportState(testCase.state);
        drain();
        EXPECT_EQ(updates(), std::vector<State>{testCase.expected});

        // The next start replaces the failed probe with a new browse.
        const int listensBefore = transport.listenCount();
        startListening();
        EXPECT_EQ(discovery.browsers().size(), 1u);
        EXPECT_NE(discovery.lastBrowser(), nullptr);
        EXPECT_EQ(updates(), std::vector<State>{State::localNetworkPermissionChecking()});
        EXPECT_EQ(transport.listenCount(), listensBefore) << "the listener is left alone";
    }
}

TEST_F(BroadcasterListenerTest, ResultOfAnEarlierProbeGenerationChangesNothing) {
    discovery.respondsAutomatically = false;
    TearDown();
    makeBroadcaster();
    startListening();
    const auto staleGeneration = Access::localNetworkProbeGeneration(*broadcaster);
    run(broadcaster->restartListening());
    drain();
    updates();
    Access::localNetworkProbeSucceeded(*broadcaster, staleGeneration);
    EXPECT_EQ(updates(), std::vector<State>{});
    Access::localNetworkProbeSucceeded(*broadcaster, Access::localNetworkProbeGeneration(*broadcaster));
    EXPECT_EQ(updates(), std::vector<State>{State::localNetworkPermissionGranted()});
}

TEST_F(BroadcasterListenerTest, StopWithoutConnectionYieldsIdleAndWithdrawsEverything) {
    startListening();
    updates();
    run(broadcaster->stop());
    drain();
    EXPECT_EQ(updates(), std::vector<State>{State::idle()});
    EXPECT_TRUE(discovery.advertisers().empty());
    EXPECT_TRUE(discovery.browsers().empty());
}

TEST_F(BroadcasterListenerTest, StopListeningIfNotConnectedKeepsALiveSession) {
    startListening();
    auto headset = connect();
    updates();
    run(broadcaster->stopListeningIfNotConnected());
    drain();
    EXPECT_EQ(updates(), std::vector<State>{});
    EXPECT_FALSE(listener()->isStopped());
    EXPECT_FALSE(isClosed(headset));
}

TEST(LocalNetworkDeniedErrorTest, PermissionTypeErrorsOnly) {
    struct Case {
        ServiceDiscoveryError error;
        bool denied;
    };
    using Domain = ServiceDiscoveryError::Domain;
    const std::vector<Case> cases{
        {{Domain::posix, EPERM, "x"}, true},
        {{Domain::posix, EACCES, "x"}, true},
        {{Domain::posix, ECONNREFUSED, "x"}, false},
        {{Domain::dns, -65570, "x"}, true},
        {{Domain::dns, -20, "Access denied"}, true},
        {{Domain::dns, -26, "Daemon not running"}, false},
        {{Domain::dns, -1, "PolicyDenied"}, true},
        {{Domain::dns, -1, "policy denied by admin"}, true},
        {{Domain::dns, -1, "Operation Not Permitted"}, true},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(isLocalNetworkDeniedError(testCase.error), testCase.denied)
            << testCase.error.localizedDescription;
    }
}

}  // namespace
}  // namespace quillbridge
