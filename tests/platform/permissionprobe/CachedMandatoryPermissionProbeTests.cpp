#include "platform/linux/host/CachedMandatoryPermissionProbe.hpp"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

// Grants that the test changes from its thread; each reading can be held until the test lets it go.
class SlowProbe final : public MandatoryPermissionProbe {
public:
    bool isScreenCaptureGranted() override {
        std::unique_lock lock(mutex);
        released.wait(lock, [this] { return !holdsReadings; });
        ++screenCaptureReadings;
        return screenCaptureGranted;
    }
    void requestScreenCaptureAccess() override { ++screenCaptureRequests; }
    bool isSyntheticInputGranted() override { return syntheticInputGranted; }
    void requestSyntheticInputAccess() override { ++syntheticInputRequests; }

    void release() {
        {
            std::lock_guard lock(mutex);
            holdsReadings = false;
        }
        released.notify_all();
    }

    std::mutex mutex;
    std::condition_variable released;
    bool holdsReadings = false;
    std::atomic<bool> screenCaptureGranted{true};
    std::atomic<bool> syntheticInputGranted{false};
    std::atomic<int> screenCaptureReadings{0};
    std::atomic<int> screenCaptureRequests{0};
    std::atomic<int> syntheticInputRequests{0};
};

template <class Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(CachedMandatoryPermissionProbeTest, FirstAnswerWaitsForTheFirstReadingLaterOnesDoNot) {
    auto owned = std::make_unique<SlowProbe>();
    SlowProbe& probe = *owned;
    probe.holdsReadings = true;
    CachedMandatoryPermissionProbe cached(std::move(owned));
    std::promise<void> firstRead;
    cached.whenFirstRead([&] { firstRead.set_value(); });

    auto answer = std::async(std::launch::async, [&] { return cached.isScreenCaptureGranted(); });
    EXPECT_EQ(answer.wait_for(50ms), std::future_status::timeout) << "no reading yet";
    probe.release();
    EXPECT_TRUE(answer.get());
    EXPECT_EQ(firstRead.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(cached.isSyntheticInputGranted());

    // A reading that hangs does not hold the answers back.
    {
        std::lock_guard lock(probe.mutex);
        probe.holdsReadings = true;
    }
    const auto start = std::chrono::steady_clock::now();
    for (int call = 0; call < 5; ++call) {
        cached.isScreenCaptureGranted();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    probe.release();
}

TEST(CachedMandatoryPermissionProbeTest, AChangedGrantShowsInTheNextAnswerAndCallsTheHandler) {
    auto owned = std::make_unique<SlowProbe>();
    SlowProbe& probe = *owned;
    CachedMandatoryPermissionProbe cached(std::move(owned));
    std::atomic<int> changes{0};
    cached.setChangeHandler([&] { ++changes; });
    EXPECT_TRUE(cached.isScreenCaptureGranted());
    EXPECT_EQ(changes, 0) << "the first reading changes nothing";

    probe.screenCaptureGranted = false;
    // Each question asks for a fresh reading behind its answer.
    ASSERT_TRUE(eventually([&] {
        cached.isScreenCaptureGranted();
        return changes == 1;
    }));
    ASSERT_TRUE(eventually([&] { return !cached.isScreenCaptureGranted(); }));
    EXPECT_EQ(changes, 1);
}

TEST(CachedMandatoryPermissionProbeTest, RequestsRunOnTheProbesThread) {
    auto owned = std::make_unique<SlowProbe>();
    SlowProbe& probe = *owned;
    CachedMandatoryPermissionProbe cached(std::move(owned));
    cached.requestScreenCaptureAccess();
    cached.requestSyntheticInputAccess();
    EXPECT_TRUE(
        eventually([&] { return probe.screenCaptureRequests == 1 && probe.syntheticInputRequests == 1; }));
}

TEST(CachedMandatoryPermissionProbeTest, HandlersAfterTheFirstReadingRunAtOnce) {
    CachedMandatoryPermissionProbe cached(std::make_unique<SlowProbe>());
    cached.isScreenCaptureGranted();
    bool ran = false;
    cached.whenFirstRead([&] { ran = true; });
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace quillbridge
