// The host as the application builds it, from its real adapters, met by a headset over the network of a
// private namespace: discovered through Avahi, paired with the code typed into the host, streaming the
// desktop drawn on Xvfb and the sound played into PulseAudio. Run through run-e2e-environment.sh.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

#include "PulseTonePlayer.hpp"
#include "X11PatternWindow.hpp"
#include "capture/ScreenRecorder.hpp"
#include "core/Date.hpp"
#include "pairing/P256SigningKey.hpp"
#include "platform/linux/avahi/AvahiServiceBrowser.hpp"
#include "platform/linux/host/LinuxHostServices.hpp"
#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "support/pairing/ClientPairingExchange.hpp"
#include "support/quic/QuicTestClient.hpp"
#include "wire/ControlMessageFraming.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Case = StreamControlMessage::Case;

// Generous: the sanitizers slow everything down several times.
constexpr auto waitBound = 30s;

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound = waitBound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// An io_context turned by a thread of its own until the loop is destroyed.
class EventLoopThread {
public:
    EventLoopThread() : guard_(asio::make_work_guard(context)), thread_([this] { context.run(); }) {}
    ~EventLoopThread() {
        guard_.reset();
        context.stop();
        thread_.join();
    }

    // Runs the awaitable on this loop and waits for its result (rethrowing what it threw).
    template <class T>
    T run(asio::awaitable<T> awaitable) {
        auto future = asio::co_spawn(context, std::move(awaitable), asio::use_future);
        if (future.wait_for(waitBound) != std::future_status::ready) {
            throw std::runtime_error("timed out");
        }
        return future.get();
    }

    asio::io_context context;

private:
    asio::executor_work_guard<asio::io_context::executor_type> guard_;
    std::thread thread_;
};

// The first advertisement of the host's service type that Avahi resolves.
std::optional<ResolvedService> discoverHost() {
    AvahiServiceBrowser browser;
    std::mutex mutex;
    std::optional<ServiceBrowseResult> found;
    std::optional<ResolvedService> resolved;
    browser.start(
        "_quillbridge._udp", [](const ServiceDiscoveryState&) {},
        [&](const std::vector<ServiceBrowseResult>& results) {
            std::lock_guard lock(mutex);
            if (!results.empty() && !found) {
                found = results.front();
            }
        });
    if (!waitUntil([&] {
            std::lock_guard lock(mutex);
            return found.has_value();
        })) {
        return std::nullopt;
    }
    std::promise<std::optional<ResolvedService>> promise;
    ServiceBrowseResult result;
    {
        std::lock_guard lock(mutex);
        result = *found;
    }
    browser.resolve(result, [&](std::expected<ResolvedService, ServiceDiscoveryError> service) {
        promise.set_value(service ? std::optional(*service) : std::nullopt);
    });
    auto future = promise.get_future();
    if (future.wait_for(waitBound) != std::future_status::ready) {
        browser.stop();
        return std::nullopt;
    }
    resolved = future.get();
    browser.stop();
    return resolved;
}

// One headset connection: the control stream and a reader that keeps every control message the host sends.
class HeadsetConnection {
public:
    HeadsetConnection(EventLoopThread& loop, std::shared_ptr<QuicConnection> connection,
                      std::shared_ptr<QuicStream> control)
        : loop_(loop), connection_(std::move(connection)), control_(std::move(control)) {
        asio::co_spawn(loop_.context, readControlMessages(), asio::detached);
    }

    QuicConnection& connection() { return *connection_; }

    void send(const StreamControlMessage& message) {
        loop_.run(control_->send(ControlMessageFraming::encode(message), false));
    }

    // The first message of the case not taken yet; throws when none comes within the bound.
    template <Case C>
    auto expect() {
        std::optional<StreamControlMessage> taken;
        waitUntil([&] {
            std::lock_guard lock(state_->mutex);
            for (std::size_t index = state_->next; index < state_->messages.size(); ++index) {
                if (state_->messages[index].messageCase() == C && !state_->taken[index]) {
                    state_->taken[index] = true;
                    taken = state_->messages[index];
                    return true;
                }
            }
            return state_->ended;
        });
        if (!taken) {
            throw std::runtime_error("the host did not send the expected control message");
        }
        return *taken->template get<C>();
    }

    bool ended() {
        std::lock_guard lock(state_->mutex);
        return state_->ended;
    }

private:
    struct State {
        std::mutex mutex;
        std::vector<StreamControlMessage> messages;
        std::vector<bool> taken;
        std::size_t next = 0;
        bool ended = false;
    };

    asio::awaitable<void> readControlMessages() {
        auto state = state_;
        auto control = control_;
        try {
            for (;;) {
                const Bytes data = co_await ControlMessageFraming::readMessageData(*control);
                auto decoded = decodeJson<StreamControlMessage>(
                    std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
                if (!decoded) {
                    break;
                }
                std::lock_guard lock(state->mutex);
                state->messages.push_back(std::move(*decoded));
                state->taken.push_back(false);
            }
        } catch (const std::exception&) {
        }
        std::lock_guard lock(state->mutex);
        state->ended = true;
    }

    EventLoopThread& loop_;
    std::shared_ptr<QuicConnection> connection_;
    std::shared_ptr<QuicStream> control_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_E2E") == nullptr) {
            GTEST_SKIP()
                << "needs the private end-to-end environment: run through tests/e2e/run-e2e-environment.sh";
        }
        const char* config = std::getenv("XDG_CONFIG_HOME");
        ASSERT_NE(config, nullptr);
        // Each test starts as a freshly installed host.
        root =
            std::filesystem::path(config) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::create_directories(root);

        LinuxHostServicesOptions options;
        options.mainActor = main.context.get_executor();
        options.defaultsFile = root / "defaults.json";
        options.dataDirectory = root / "data";
        options.useSecretService = false;
        options.hostDisplayName = "End-to-End Host";
        options.listenPort = 0;
        std::string error;
        host = LinuxHostServices::create(std::move(options), &error);
        ASSERT_TRUE(host) << error;
        main.run([](ScreenRecorder& recorder) -> asio::awaitable<void> {
            recorder.setLocalNetworkPermissionChecksEnabled(true);
            co_await recorder.checkMandatoryPermissions();
        }(host->recorder()));
    }

    void TearDown() override {
        if (host) {
            main.run(host->recorder().shutdown());
            host.reset();
        }
    }

    // Reads a recorder value on the main actor.
    template <class Function>
    auto onMain(Function function) {
        return main.run(
            [](Function body) -> asio::awaitable<decltype(body())> { co_return body(); }(function));
    }

    HeadsetConnection connect(QuicTestClient& client, QuicTestClient::Options options = {}) {
        auto service = discoverHost();
        if (!service) {
            throw std::runtime_error("the host was not discovered");
        }
        auto connection = headset.run(client.connect(service->port, std::move(options)));
        auto control = headset.run(connection->openStream(QuicStreamDirectionality::bidirectional));
        return HeadsetConnection(headset, std::move(connection), std::move(control));
    }

    std::filesystem::path root;
    EventLoopThread main;
    EventLoopThread headset;
    std::unique_ptr<LinuxHostServices> host;
};

TEST_F(EndToEndTest, FirstContactPairsAndStreamsTheDesktop) {
    EXPECT_TRUE(waitUntil(
        [&] { return onMain([&] { return host->recorder().hasCompletedMandatoryPermissionCheck(); }); }));
    EXPECT_TRUE(onMain([&] { return host->recorder().permissionIssues().empty(); }));

    const Uuid hostID = host->broadcaster()->localPeerIdentity().id;
    const LocalDeviceIdentity identity{Uuid::random(), "End-to-End Headset"};
    const auto key = P256SigningKey::generate();
    QuicTestClient client;
    auto connection = connect(client);
    ClientPairingExchange pairing(identity, key, client.identity().certificateDER, hostID, Date::now());
    connection.send(StreamControlMessage::make<Case::hello>(pairing.hello()));
    connection.expect<Case::hello>();
    connection.send(StreamControlMessage::make<Case::pairingStart>(pairing.start()));
    ASSERT_TRUE(pairing.receiveChallenge(connection.expect<Case::pairingChallenge>(),
                                         connection.connection().peerCertificateDER()));
}

}  // namespace
}  // namespace quillbridge
