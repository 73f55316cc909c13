// The Avahi advertiser and browser against real daemons. These tests run only through run-in-netns.sh,
// which gives them network namespaces of their own with a private dbus-daemon and avahi-daemon; run
// directly, they skip.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <expected>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/Uuid.hpp"
#include "platform/linux/avahi/AvahiServiceAdvertiser.hpp"
#include "platform/linux/avahi/AvahiServiceBrowser.hpp"

extern char** environ;

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Status = ServiceDiscoveryState::Status;

const std::string serviceType = "_quillbridge._udp";
// Publishing probes the network for about a second first; everything here waits at most this long.
constexpr auto patience = 15s;

// Avahi's error codes (avahi-common/error.h), as the ports carry them.
constexpr int avahiErrorInvalidServiceType = -11;
constexpr int avahiErrorInvalidRecord = -9;
constexpr int avahiErrorBadState = -2;
constexpr int avahiErrorNotFound = -30;
constexpr int avahiErrorNoDaemon = -26;

// Collects what the handlers report, from the discovery threads, and lets the test wait for it.
class DiscoveryRecorder {
public:
    ServiceAdvertiser::StateHandler stateHandler() {
        return [this](const ServiceDiscoveryState& state) {
            std::lock_guard lock(mutex_);
            states_.push_back(state);
            changed_.notify_all();
        };
    }

    ServiceBrowser::ResultsHandler resultsHandler() {
        return [this](const std::vector<ServiceBrowseResult>& results) {
            std::lock_guard lock(mutex_);
            results_ = results;
            changed_.notify_all();
        };
    }

    // The latest state once it has the status, or nothing after the time-out.
    std::optional<ServiceDiscoveryState> waitForStatus(Status status) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, patience,
                               [&] { return !states_.empty() && states_.back().status == status; }))
            return std::nullopt;
        return states_.back();
    }

    // Waits until the latest result set satisfies `predicate`.
    bool waitForResults(const std::function<bool(const std::vector<ServiceBrowseResult>&)>& predicate) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return predicate(results_); });
    }

    bool waitForName(const std::string& name) {
        return waitForResults([&](const auto& results) { return containsName(results, name); });
    }

    std::vector<ServiceDiscoveryState> states() const {
        std::lock_guard lock(mutex_);
        return states_;
    }

    std::vector<ServiceBrowseResult> results() const {
        std::lock_guard lock(mutex_);
        return results_;
    }

    static bool containsName(const std::vector<ServiceBrowseResult>& results, const std::string& name) {
        return std::ranges::any_of(results, [&](const auto& result) { return result.name == name; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ServiceDiscoveryState> states_;
    std::vector<ServiceBrowseResult> results_;
};

std::expected<ResolvedService, ServiceDiscoveryError> resolveNow(ServiceBrowser& browser,
                                                                 const ServiceBrowseResult& result) {
    auto promise = std::make_shared<std::promise<std::expected<ResolvedService, ServiceDiscoveryError>>>();
    auto future = promise->get_future();
    browser.resolve(result, [promise](auto outcome) { promise->set_value(std::move(outcome)); });
    if (future.wait_for(patience) != std::future_status::ready)
        return std::unexpected(ServiceDiscoveryError{ServiceDiscoveryError::Domain::dns, 0, "test time-out"});
    return future.get();
}

std::optional<ServiceBrowseResult> resultNamed(const std::vector<ServiceBrowseResult>& results,
                                               const std::string& name) {
    for (const auto& result : results) {
        if (result.name == name)
            return result;
    }
    return std::nullopt;
}

// Runs one of run-in-netns.sh's commands inside the test's namespace.
int runNetnsCommand(const std::string& command) {
    const char* script = std::getenv("QUILLBRIDGE_AVAHI_NETNS_SCRIPT");
    if (!script)
        return -1;
    std::string line = std::string("bash '") + script + "' " + command;
    return std::system(line.c_str());
}

// The second host of the two-host tests: the publish helper on a namespace of its own, joined to ours by
// a veth pair; its state lines come back through a pipe. Everything goes when this object does.
class PeerHost {
public:
    PeerHost(const std::string& name, const std::string& type) {
        const char* script = std::getenv("QUILLBRIDGE_AVAHI_NETNS_SCRIPT");
        const char* helper = std::getenv("QUILLBRIDGE_AVAHI_PUBLISH_HELPER");
        if (!script || !helper)
            throw std::runtime_error("QUILLBRIDGE_AVAHI_PUBLISH_HELPER is not set");
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::vector<std::string> arguments{"bash", script, "peer", helper, name, type, "49555", "60"};
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        int error = posix_spawnp(&pid_, "bash", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        output_ = fds[0];
        if (error != 0) {
            close(output_);
            throw std::runtime_error("cannot start the peer host");
        }
    }

    ~PeerHost() {
        kill(pid_, SIGTERM);
        int status = 0;
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        close(output_);
    }

    // The next line the helper printed, or nothing when none came in time.
    std::optional<std::string> nextLine() {
        auto deadline = std::chrono::steady_clock::now() + patience;
        while (true) {
            if (auto end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (remaining <= 0ms)
                return std::nullopt;
            pollfd descriptor{output_, POLLIN, 0};
            if (poll(&descriptor, 1, static_cast<int>(remaining.count())) <= 0)
                return std::nullopt;
            char chunk[256];
            ssize_t count = read(output_, chunk, sizeof chunk);
            if (count <= 0)
                return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(count));
        }
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string buffer_;
};

class AvahiTestBase : public testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("QUILLBRIDGE_AVAHI_NETNS_SCRIPT"))
            GTEST_SKIP() << "needs the private namespaces of run-in-netns.sh";
    }

    static ServiceAdvertisement advertisement(std::string name) {
        return {std::move(name),
                serviceType,
                {{"peer_id", Uuid::random().string()}, {"mac_form", "desktop"}},
                49555};
    }
};

using AvahiPublishingTests = AvahiTestBase;
using AvahiCollisionTests = AvahiTestBase;
using AvahiDaemonRestartTests = AvahiTestBase;
using AvahiErrorTests = AvahiTestBase;

TEST_F(AvahiPublishingTests, PublishesAServiceThatBrowsingFindsResolvesAndLosesOnStop) {
    auto published = advertisement("Quillbridge Test Host");
    DiscoveryRecorder advertiserEvents;
    AvahiServiceAdvertiser advertiser;
    advertiser.start(published, advertiserEvents.stateHandler());
    auto ready = advertiserEvents.waitForStatus(Status::ready);
    ASSERT_TRUE(ready.has_value());
    EXPECT_EQ(ready->serviceName, "Quillbridge Test Host");

    DiscoveryRecorder browserEvents;
    AvahiServiceBrowser browser;
    browser.start(serviceType, browserEvents.stateHandler(), browserEvents.resultsHandler());
    ASSERT_TRUE(browserEvents.waitForStatus(Status::ready).has_value());
    ASSERT_TRUE(browserEvents.waitForName("Quillbridge Test Host"));

    auto result = resultNamed(browserEvents.results(), "Quillbridge Test Host");
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->type, serviceType);
    EXPECT_EQ(result->domain, "local");
    auto resolved = resolveNow(browser, *result);
    ASSERT_TRUE(resolved.has_value()) << resolved.error().localizedDescription;
    EXPECT_EQ(resolved->name, "Quillbridge Test Host");
    EXPECT_EQ(resolved->port, 49555);
    EXPECT_EQ(resolved->txtRecord, published.txtRecord);
    EXPECT_EQ(resolved->hostName, "quillbridge-test.local");
    EXPECT_EQ(resolved->address, "127.0.0.1");

    // A result the browse does not hold cannot be resolved.
    auto unknown = *result;
    unknown.name = "Nobody Here";
    auto notFound = resolveNow(browser, unknown);
    ASSERT_FALSE(notFound.has_value());
    EXPECT_EQ(notFound.error().code, avahiErrorNotFound);

    // Withdrawing takes the service off the network.
    advertiser.stop();
    EXPECT_TRUE(browserEvents.waitForResults([](const auto& results) {
        return !DiscoveryRecorder::containsName(results, "Quillbridge Test Host");
    }));
    // Nothing more is reported after stop, and the states came once each.
    EXPECT_EQ(advertiserEvents.states(), std::vector{ServiceDiscoveryState::ready("Quillbridge Test Host")});

    browser.stop();
    auto stopped = resolveNow(browser, *result);
    ASSERT_FALSE(stopped.has_value());
    EXPECT_EQ(stopped.error().code, avahiErrorBadState);
}

TEST_F(AvahiPublishingTests, AProbeBrowseStartedFirstSeesOurOwnAdvertisement) {
    DiscoveryRecorder probeEvents;
    AvahiServiceBrowser probe;
    probe.start(serviceType, probeEvents.stateHandler(), probeEvents.resultsHandler());
    ASSERT_TRUE(probeEvents.waitForStatus(Status::ready).has_value());
    EXPECT_TRUE(probeEvents.results().empty());

    DiscoveryRecorder advertiserEvents;
    AvahiServiceAdvertiser advertiser;
    advertiser.start(advertisement("Quillbridge Probe Host"), advertiserEvents.stateHandler());
    EXPECT_TRUE(probeEvents.waitForResults([](const auto& results) { return !results.empty(); }));
    EXPECT_TRUE(DiscoveryRecorder::containsName(probeEvents.results(), "Quillbridge Probe Host"));
    EXPECT_EQ(probeEvents.states(), std::vector{ServiceDiscoveryState::ready()});
}

TEST_F(AvahiPublishingTests, ALongNameIsShortenedToOneLabelAtACharacterBoundary) {
    // 62 ASCII bytes and then two-byte characters: the cut falls inside the second one.
    std::string name = std::string(61, 'L') + "\xc3\xa9\xc3\xa9\xc3\xa9";
    DiscoveryRecorder events;
    AvahiServiceAdvertiser advertiser;
    advertiser.start(advertisement(name), events.stateHandler());
    auto ready = events.waitForStatus(Status::ready);
    ASSERT_TRUE(ready.has_value());
    EXPECT_EQ(ready->serviceName, std::string(61, 'L') + "\xc3\xa9");
}

TEST_F(AvahiCollisionTests, ANameTakenOnThisHostIsReplacedByTheNextAlternative) {
    DiscoveryRecorder firstEvents;
    AvahiServiceAdvertiser first;
    first.start(advertisement("Shared Name"), firstEvents.stateHandler());
    auto firstReady = firstEvents.waitForStatus(Status::ready);
    ASSERT_TRUE(firstReady.has_value());
    EXPECT_EQ(firstReady->serviceName, "Shared Name");

    DiscoveryRecorder secondEvents;
    AvahiServiceAdvertiser second;
    second.start(advertisement("Shared Name"), secondEvents.stateHandler());
    auto secondReady = secondEvents.waitForStatus(Status::ready);
    ASSERT_TRUE(secondReady.has_value());
    EXPECT_EQ(secondReady->serviceName, "Shared Name #2");

    DiscoveryRecorder browserEvents;
    AvahiServiceBrowser browser;
    browser.start(serviceType, browserEvents.stateHandler(), browserEvents.resultsHandler());
    EXPECT_TRUE(browserEvents.waitForResults([](const auto& results) {
        return DiscoveryRecorder::containsName(results, "Shared Name") &&
               DiscoveryRecorder::containsName(results, "Shared Name #2");
    }));
}

TEST_F(AvahiCollisionTests, ANameAnotherHostHoldsIsReplacedAfterProbing) {
    PeerHost peer("Quillbridge Twin", serviceType);
    std::optional<std::string> line = peer.nextLine();
    ASSERT_EQ(line, "ready Quillbridge Twin");

    DiscoveryRecorder events;
    AvahiServiceAdvertiser advertiser;
    advertiser.start(advertisement("Quillbridge Twin"), events.stateHandler());
    auto ready = events.waitForStatus(Status::ready);
    ASSERT_TRUE(ready.has_value());
    EXPECT_EQ(ready->serviceName, "Quillbridge Twin #2");
    // The rename happened before anything was reported: one state only.
    EXPECT_EQ(events.states().size(), 1u);

    // Both hosts' services are on the network, the peer's under the name it kept.
    DiscoveryRecorder browserEvents;
    AvahiServiceBrowser browser;
    browser.start(serviceType, browserEvents.stateHandler(), browserEvents.resultsHandler());
    ASSERT_TRUE(browserEvents.waitForResults([](const auto& results) {
        return DiscoveryRecorder::containsName(results, "Quillbridge Twin") &&
               DiscoveryRecorder::containsName(results, "Quillbridge Twin #2");
    }));
    auto peerService = resolveNow(browser, *resultNamed(browserEvents.results(), "Quillbridge Twin"));
    ASSERT_TRUE(peerService.has_value()) << peerService.error().localizedDescription;
    EXPECT_EQ(peerService->hostName, "quillbridge-peer.local");
    EXPECT_EQ(peerService->address, "10.213.77.2");
    EXPECT_EQ(peerService->txtRecord.at("peer_id"), "peer-host");
}

TEST_F(AvahiDaemonRestartTests, PublishesAndBrowsesAgainOnceTheDaemonIsBack) {
    DiscoveryRecorder advertiserEvents;
    AvahiServiceAdvertiser advertiser;
    advertiser.start(advertisement("Quillbridge Phoenix"), advertiserEvents.stateHandler());
    ASSERT_TRUE(advertiserEvents.waitForStatus(Status::ready).has_value());
    DiscoveryRecorder browserEvents;
    AvahiServiceBrowser browser;
    browser.start(serviceType, browserEvents.stateHandler(), browserEvents.resultsHandler());
    ASSERT_TRUE(browserEvents.waitForName("Quillbridge Phoenix"));

    ASSERT_EQ(runNetnsCommand("stop-daemon"), 0);
    auto advertiserWaiting = advertiserEvents.waitForStatus(Status::waiting);
    ASSERT_TRUE(advertiserWaiting.has_value());
    EXPECT_FALSE(advertiserWaiting->error->localizedDescription.empty());
    ASSERT_TRUE(browserEvents.waitForStatus(Status::waiting).has_value());
    EXPECT_TRUE(browserEvents.waitForResults([](const auto& results) { return results.empty(); }));

    ASSERT_EQ(runNetnsCommand("start-daemon"), 0);
    auto readyAgain = advertiserEvents.waitForStatus(Status::ready);
    ASSERT_TRUE(readyAgain.has_value());
    EXPECT_EQ(readyAgain->serviceName, "Quillbridge Phoenix");
    ASSERT_TRUE(browserEvents.waitForStatus(Status::ready).has_value());
    ASSERT_TRUE(browserEvents.waitForName("Quillbridge Phoenix"));
    auto resolved = resolveNow(browser, *resultNamed(browserEvents.results(), "Quillbridge Phoenix"));
    ASSERT_TRUE(resolved.has_value()) << resolved.error().localizedDescription;
    EXPECT_EQ(resolved->port, 49555);
}

TEST_F(AvahiDaemonRestartTests, WaitsForADaemonThatIsNotRunningYet) {
    ASSERT_EQ(runNetnsCommand("stop-daemon"), 0);
    DiscoveryRecorder events;
    AvahiServiceAdvertiser advertiser;
    advertiser.start(advertisement("Quillbridge Early Bird"), events.stateHandler());
    auto waiting = events.waitForStatus(Status::waiting);
    ASSERT_TRUE(waiting.has_value());
    EXPECT_EQ(waiting->error, (ServiceDiscoveryError{ServiceDiscoveryError::Domain::dns, avahiErrorNoDaemon,
                                                     "Daemon not running"}));

    ASSERT_EQ(runNetnsCommand("start-daemon"), 0);
    auto ready = events.waitForStatus(Status::ready);
    ASSERT_TRUE(ready.has_value());
    EXPECT_EQ(ready->serviceName, "Quillbridge Early Bird");
}

TEST_F(AvahiErrorTests, ServicesThatCannotBePublishedFailWithAvahisError) {
    struct Case {
        const char* what;
        ServiceAdvertisement advertisement;
        int code;
        const char* description;
    };
    const std::vector<Case> cases = {
        {"a type without its protocol",
         {"Bad Type", "quillbridge", {}, 49555},
         avahiErrorInvalidServiceType,
         "Invalid service type"},
        {"a TXT key with \"=\"",
         {"Bad Key", serviceType, {{"peer=id", "x"}}, 49555},
         avahiErrorInvalidRecord,
         "Invalid record"},
        {"an oversized TXT entry",
         {"Big Entry", serviceType, {{"peer_id", std::string(300, 'x')}}, 49555},
         avahiErrorInvalidRecord,
         "Invalid record"},
    };
    for (const auto& [what, published, code, description] : cases) {
        DiscoveryRecorder events;
        AvahiServiceAdvertiser advertiser;
        advertiser.start(published, events.stateHandler());
        auto failed = events.waitForStatus(Status::failed);
        ASSERT_TRUE(failed.has_value()) << what;
        EXPECT_EQ(failed->error,
                  (ServiceDiscoveryError{ServiceDiscoveryError::Domain::dns, code, description}))
            << what;
    }
}

TEST_F(AvahiErrorTests, BrowsingForAnInvalidTypeFails) {
    DiscoveryRecorder events;
    AvahiServiceBrowser browser;
    browser.start("not a type", events.stateHandler(), events.resultsHandler());
    auto failed = events.waitForStatus(Status::failed);
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->error->code, avahiErrorInvalidServiceType);
}

}  // namespace
}  // namespace quillbridge
