#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/post.hpp>
#include <asio/this_coro.hpp>

#include "core/SecureRandom.hpp"
#include "platform/linux/quic/GnuTLSCredentials.hpp"
#include "platform/linux/quic/QuicEndpoint.hpp"
#include "platform/linux/quic/QuicRuntime.hpp"
#include "platform/quic/QuicTestFixture.hpp"
#include "support/quic/HandshakeStallingRelay.hpp"
#include "support/quic/RunOnEngine.hpp"

namespace quillbridge {
namespace {

using namespace asio::experimental::awaitable_operators;

// A client that keeps `count` handshakes open through a relay that never lets them finish: each attempt
// that ends is started again at once. Its attempts run on a thread of their own until it is destroyed.
class HandshakeFlood {
public:
    HandshakeFlood(std::uint16_t relayPort, int count) {
        for (int i = 0; i < count; ++i) {
            signals_.push_back(std::make_unique<asio::cancellation_signal>());
            asio::co_spawn(context_, attempt(relayPort),
                           asio::bind_cancellation_slot(signals_.back()->slot(), asio::detached));
        }
        thread_ = std::thread([this] { context_.run(); });
    }
    ~HandshakeFlood() {
        asio::post(context_, [this] {
            for (auto& signal : signals_) {
                signal->emit(asio::cancellation_type::all);
            }
        });
        thread_.join();
    }

    int attemptsStarted() const { return started_; }

private:
    asio::awaitable<void> attempt(std::uint16_t relayPort) {
        QuicTestClient::Options options;
        options.host = "127.0.0.1";
        for (;;) {
            ++started_;
            try {
                co_await client_.connect(relayPort, options);
            } catch (const std::exception&) {
            }
            if ((co_await asio::this_coro::cancellation_state).cancelled() != asio::cancellation_type::none) {
                co_return;
            }
        }
    }

    QuicTestClient client_;
    asio::io_context context_;
    std::vector<std::unique_ptr<asio::cancellation_signal>> signals_;
    std::atomic<int> started_{0};
    std::thread thread_;
};

TEST_F(QuicTransportFixture, AClientGetsInWhileAFloodKeepsSixteenHandshakesOpen) {
    struct Case {
        std::size_t floodAddresses;
        // One address alone never holds enough handshakes to make the host ask for address validation.
        bool hostAsksForValidation;
    };
    for (const auto& [floodAddresses, hostAsksForValidation] : {Case{1, false}, Case{16, true}}) {
        SCOPED_TRACE(testing::Message() << floodAddresses << " flood addresses");
        auto listener = listen(listenerParameters("127.0.0.1"));
        HandshakeStallingRelay relay(listener->localPort(), floodAddresses);
        HandshakeFlood flood(relay.port(), static_cast<int>(QuicEndpoint::maximumHandshakes));
        for (int i = 0; i < 200 && relay.clientsAnswered() < QuicEndpoint::maximumHandshakes; ++i) {
            std::this_thread::sleep_for(50ms);
        }
        ASSERT_EQ(relay.clientsAnswered(), QuicEndpoint::maximumHandshakes);

        QuicTestClient::Options options;
        options.host = "127.0.0.1";
        auto [server, client] = run(
            [](QuicListener& listener, QuicTestClient& headset, QuicTestClient::Options options)
                -> asio::awaitable<
                    std::pair<std::shared_ptr<QuicConnection>, std::shared_ptr<QuicConnection>>> {
                auto [server, client] =
                    co_await (listener.accept() && headset.connect(listener.localPort(), options));
                co_return std::pair{server, client};
            }(*listener, headset, options),
            5s);
        EXPECT_EQ(server->peerCertificateDER(), headset.identity().certificateDER);
        EXPECT_EQ(client->state().kind, QuicConnectionState::Kind::ready);
        EXPECT_EQ(relay.retriesPassed() > 0, hostAsksForValidation);
    }
}

// A listening endpoint on 127.0.0.1 of its own, so that the test can count the handshakes it holds.
class HandshakeBoundTests : public ::testing::Test {
protected:
    HandshakeBoundTests() {
        asio::ip::udp::socket socket(runtime->context(),
                                     asio::ip::udp::endpoint(asio::ip::address_v4::loopback(), 0));
        endpoint = std::make_shared<QuicEndpoint>(runtime, std::move(socket), secureRandomBytes(32), nullptr);
        QuicEndpoint::ListenerConfiguration listener;
        listener.connection.alpn = "quillbridge-spatial-stream";
        listener.connection.credentials = *GnuTLSCredentials::fromIdentity(makeTestTLSIdentity("Test Host"));
        listener.connection.certificateValidator = [](ByteView) { return true; };
        runOnEngine(*runtime, [&] {
            endpoint->start();
            endpoint->startListening(std::move(listener));
        });
    }
    ~HandshakeBoundTests() override {
        runOnEngine(*runtime, [this] { endpoint->shutDown(); });
        runtime->shutdown([] {});
    }

    std::shared_ptr<QuicRuntime> runtime = std::make_shared<QuicRuntime>();
    std::shared_ptr<QuicEndpoint> endpoint;
};

TEST_F(HandshakeBoundTests, MoreHalfOpenHandshakesThanTheBoundNeverGrowTheTable) {
    struct Case {
        std::size_t floodAddresses;
        std::size_t bound;
    };
    constexpr int attempts = 24;
    for (const auto& [floodAddresses, bound] :
         {Case{1, QuicEndpoint::maximumHandshakesPerAddress}, Case{16, QuicEndpoint::maximumHandshakes}}) {
        SCOPED_TRACE(testing::Message() << floodAddresses << " flood addresses");
        HandshakeStallingRelay relay(endpoint->localPort(), floodAddresses);
        {
            HandshakeFlood flood(relay.port(), attempts);
            // Every attempt got a handshake of its own at some point: the later ones took the place of
            // others.
            for (int i = 0; i < 200 && relay.clientsAnswered() < attempts; ++i) {
                std::this_thread::sleep_for(50ms);
            }
            ASSERT_EQ(relay.clientsAnswered(), static_cast<std::size_t>(attempts));
            const auto held = runOnEngine(*runtime, [this] { return endpoint->handshakeCount(); });
            EXPECT_LE(held, bound);
            EXPECT_GE(held, 1u);
        }
    }
}

}  // namespace
}  // namespace quillbridge
