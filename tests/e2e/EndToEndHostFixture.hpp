// What every end-to-end suite shares: the host composed from its real adapters inside the private
// environment of run-e2e-environment.sh, a headset simulator on a loop of its own, and the steps that bring
// the two together (discovery through Avahi, pairing with the code typed into the host).
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

#include "capture/ScreenRecorder.hpp"
#include "platform/linux/avahi/AvahiServiceBrowser.hpp"
#include "platform/linux/host/LinuxHostServices.hpp"
#include "support/headset/HeadsetSimulator.hpp"
#include "support/headset/ServiceBrowserHostLocator.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {

using namespace std::chrono_literals;

// Generous: the sanitizers slow everything down several times.
inline constexpr auto endToEndWaitBound = 30s;

inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds bound = endToEndWaitBound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Runs the awaitable on the executor and waits for its result (rethrowing what it threw).
template <class T>
T runOn(const asio::any_io_executor& executor, asio::awaitable<T> awaitable) {
    auto future = asio::co_spawn(executor, std::move(awaitable), asio::use_future);
    if (future.wait_for(endToEndWaitBound) != std::future_status::ready) {
        throw std::runtime_error("timed out");
    }
    return future.get();
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
    EventLoopThread(const EventLoopThread&) = delete;
    EventLoopThread& operator=(const EventLoopThread&) = delete;

    template <class T>
    T run(asio::awaitable<T> awaitable) {
        return runOn(context.get_executor(), std::move(awaitable));
    }

    asio::io_context context;

private:
    asio::executor_work_guard<asio::io_context::executor_type> guard_;
    std::thread thread_;
};

// The executor where the host's main actor runs, for the test to call into.
struct MainActorCaller {
    asio::any_io_executor executor;

    template <class T>
    T run(asio::awaitable<T> awaitable) {
        return runOn(executor, std::move(awaitable));
    }
};

// Destroys a simulator on its own loop, where all of its tasks run.
struct DeleteOnLoop {
    EventLoopThread* loop = nullptr;
    void operator()(HeadsetSimulator* simulator) const {
        loop->run([](HeadsetSimulator* doomed) -> asio::awaitable<bool> {
            delete doomed;
            co_return true;
        }(simulator));
    }
};
using Headset = std::unique_ptr<HeadsetSimulator, DeleteOnLoop>;

// Each test starts a freshly installed host, listening and advertised under a name of its own.
class EndToEndHostFixture : public ::testing::Test {
protected:
    // Without an executor, the main actor gets a loop thread of its own.
    explicit EndToEndHostFixture(std::optional<asio::any_io_executor> mainActor = std::nullopt) {
        if (!mainActor) {
            ownMainLoop_ = std::make_unique<EventLoopThread>();
            mainActor = ownMainLoop_->context.get_executor();
        }
        main.executor = *mainActor;
    }

    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_E2E") == nullptr) {
            GTEST_SKIP()
                << "needs the private end-to-end environment: run through tests/e2e/run-e2e-environment.sh";
        }
        const char* config = std::getenv("XDG_CONFIG_HOME");
        ASSERT_NE(config, nullptr);
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        root = std::filesystem::path(config) / (std::string(test->test_suite_name()) + "." + test->name());
        std::filesystem::create_directories(root);

        LinuxHostServicesOptions options;
        options.mainActor = main.executor;
        options.defaultsFile = root / "defaults.json";
        options.dataDirectory = root / "data";
        options.useSecretService = false;
        // A name of its own: the advertisement of the previous test's host may linger in Avahi's cache.
        static int hostNumber = 0;
        hostName = "End-to-End Host " + std::to_string(++hostNumber);
        options.hostDisplayName = hostName;
        options.listenPort = 0;
        std::string error;
        host = LinuxHostServices::create(std::move(options), &error);
        ASSERT_TRUE(host) << error;
        main.run([](ScreenRecorder& recorder) -> asio::awaitable<void> {
            // What the application's launch does: watch power, lid and displays, then check the grants,
            // which starts listening.
            recorder.startHostAvailabilityMonitoring();
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

    // A headset that finds the host through Avahi; its calls run on the headset's loop.
    Headset makeHeadset(HeadsetSimulator::Options options = {}) {
        ServiceBrowserHostLocator locator([] { return std::make_unique<AvahiServiceBrowser>(); },
                                          ServiceBrowserHostLocator::Options{.instanceName = hostName});
        return makeHeadset(locator.locator(), std::move(options));
    }

    Headset makeHeadset(HostLocator locator, HeadsetSimulator::Options options) {
        return Headset(
            new HeadsetSimulator(headset.context.get_executor(), std::move(locator), std::move(options)),
            DeleteOnLoop{&headset});
    }

    // Runs a call of the simulator on the headset's loop and waits for it.
    template <class Function>
    auto onHeadset(Function function) {
        return headset.run(function());
    }

    // Reads simulator state on the headset's loop.
    template <class Function>
    auto readHeadset(Function function) {
        return headset.run(
            [](Function body) -> asio::awaitable<decltype(body())> { co_return body(); }(function));
    }

    // Pairs: while the headset shows its code, the test types it into the host as the prompt window does.
    // `wrongCodes` wrong codes are typed first, one per round.
    void pair(HeadsetSimulator& simulator, int wrongCodes = 0) {
        auto pairing = asio::co_spawn(headset.context, simulator.pair(), asio::use_future);
        for (int attempt = 0; attempt <= wrongCodes; ++attempt) {
            std::optional<std::string> code;
            ASSERT_TRUE(waitUntil([&] {
                code = readHeadset([&] { return simulator.pairingCode(); });
                return code.has_value() && code != lastShownCode;
            }));
            lastShownCode = code;
            ASSERT_TRUE(waitForPairingPrompt());
            submitPairingCode(attempt < wrongCodes ? wrongCode(*code) : *code);
            if (pairing.wait_for(0s) == std::future_status::ready) {
                break;
            }
        }
        ASSERT_EQ(pairing.wait_for(endToEndWaitBound), std::future_status::ready);
        pairing.get();
    }

    // Waits until the host shows a pairing prompt, as the prompt window would.
    bool waitForPairingPrompt() {
        return waitUntil(
            [&] { return onMain([&] { return host->recorder().pairingPrompt().has_value(); }); });
    }

    // Types the code into the prompt.
    void submitPairingCode(std::string code) {
        main.run(host->recorder().submitPairingCode(std::move(code)));
    }

    static std::string wrongCode(std::string code) {
        code[0] = code[0] == '9' ? '0' : static_cast<char>(code[0] + 1);
        return code;
    }

    // Reports the receiver ready with the given configuration and waits until the host streams.
    void startStreaming(HeadsetSimulator& simulator, StreamConfigurationMessage configuration) {
        onHeadset([&] {
            return simulator.send(
                StreamControlMessage::make<StreamControlMessage::Case::streamConfiguration>(configuration));
        });
        onHeadset([&] { return simulator.sendReceiverReady(); });
        ASSERT_TRUE(waitUntil([&] { return onMain([&] { return host->recorder().isConnected(); }); }));
        ASSERT_TRUE(waitUntil([&] { return onMain([&] { return host->recorder().isRunning(); }); }));
    }

private:
    // Declared first: destroyed last, after the host that runs on it.
    std::unique_ptr<EventLoopThread> ownMainLoop_;

protected:
    std::string hostName;
    std::optional<std::string> lastShownCode;
    std::filesystem::path root;
    MainActorCaller main;
    EventLoopThread headset;
    std::unique_ptr<LinuxHostServices> host;
};

}  // namespace quillbridge
