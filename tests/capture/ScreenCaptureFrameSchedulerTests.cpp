#include "capture/ScreenCaptureFrameScheduler.hpp"

#include <chrono>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Scheduler = ScreenCaptureFrameScheduler;
using TimePoint = Scheduler::TimePoint;

constexpr Scheduler::Duration interval = 10ms;
const TimePoint start{std::chrono::seconds(100)};

// Drives a scheduler the way the capture thread does, grabbing whenever it may and recording when.
struct CaptureLoop {
    Scheduler scheduler{true, start};
    std::vector<TimePoint> grabs;
    int idleFrames = 0;

    // One pass at `now`: the wait it asks for, or nothing when it acted.
    std::optional<Scheduler::Duration> pass(TimePoint now) {
        const auto pass = scheduler.plan(now, interval);
        if (pass.wait) {
            return pass.wait;
        }
        if (pass.checkGeometry) {
            scheduler.geometryChecked();
        }
        if (scheduler.grabs(pass)) {
            scheduler.grabbed(pass, now, interval);
            grabs.push_back(now);
        } else if (scheduler.sendsIdleFrame(pass)) {
            scheduler.idleFrameSent();
            ++idleFrames;
        }
        return std::nullopt;
    }
};

TEST(ScreenCaptureFrameSchedulerTest, FrameIntervalIsTheConfiguredMinimumElseTheDisplayRate) {
    struct Case {
        std::int64_t minimumNanoseconds;
        std::optional<double> refreshRate;
        Scheduler::Duration expected;
    };
    for (const auto& [minimum, refresh, expected] : {
             Case{5'000'000, 144.0, 5ms},
             Case{0, 50.0, 20ms},
             Case{-1, std::nullopt, Scheduler::Duration(16'666'666)},
             Case{0, 0.5, Scheduler::Duration(16'666'666)},
         }) {
        EXPECT_EQ(Scheduler::frameInterval(minimum, refresh), expected) << minimum;
    }
}

TEST(ScreenCaptureFrameSchedulerTest, FirstPassLooksAtTheGeometryAndGrabs) {
    CaptureLoop loop;
    const auto pass = loop.scheduler.plan(start, interval);
    ASSERT_FALSE(pass.wait);
    EXPECT_TRUE(pass.tick);
    EXPECT_TRUE(pass.checkGeometry);
    loop.scheduler.geometryChecked();
    EXPECT_TRUE(loop.scheduler.looksAtCursor(pass));
    EXPECT_TRUE(loop.scheduler.grabs(pass));
}

TEST(ScreenCaptureFrameSchedulerTest, DamageInsideTheIntervalWaitsUntilItIsUpThenKeepsTheRate) {
    CaptureLoop loop;
    loop.pass(start);
    ASSERT_EQ(loop.grabs.size(), 1u);

    // A change 3 ms after the grab is held back for the rest of the interval.
    loop.scheduler.contentChanged();
    EXPECT_EQ(loop.pass(start + 3ms), std::optional<Scheduler::Duration>(7ms));
    // Woken 2 ms late, the grab counts from when it was due, so the next one is due 10 ms after that.
    loop.pass(start + 12ms);
    ASSERT_EQ(loop.grabs.size(), 2u);
    loop.scheduler.contentChanged();
    EXPECT_EQ(loop.pass(start + 13ms), std::optional<Scheduler::Duration>(7ms));
}

TEST(ScreenCaptureFrameSchedulerTest, ChangeAfterAFullIntervalIsGrabbedAtOnce) {
    CaptureLoop loop;
    loop.pass(start);
    loop.pass(start + 10ms);  // the tick: one idle frame
    loop.scheduler.contentChanged();
    EXPECT_FALSE(loop.pass(start + 15ms));
    ASSERT_EQ(loop.grabs.size(), 2u);
    EXPECT_EQ(loop.grabs.back(), start + 15ms);
}

TEST(ScreenCaptureFrameSchedulerTest, StaticScreenSendsOneIdleFrameUntilTheNextChange) {
    CaptureLoop loop;
    loop.pass(start);
    for (int tick = 1; tick <= 5; ++tick) {
        loop.pass(start + tick * interval);
    }
    EXPECT_EQ(loop.idleFrames, 1);
    EXPECT_EQ(loop.grabs.size(), 1u);

    loop.scheduler.contentChanged();
    loop.pass(start + 55ms);
    loop.pass(start + 65ms);
    EXPECT_EQ(loop.grabs.size(), 2u);
    EXPECT_EQ(loop.idleFrames, 2);
}

TEST(ScreenCaptureFrameSchedulerTest, NothingHappeningWaitsForTheNextTick) {
    CaptureLoop loop;
    loop.pass(start);
    EXPECT_EQ(loop.pass(start + 4ms), std::optional<Scheduler::Duration>(6ms));
}

TEST(ScreenCaptureFrameSchedulerTest, SkippedOrFailedGrabIsTriedAgainAtTheNextTick) {
    for (const bool failed : {false, true}) {
        Scheduler scheduler(true, start);
        auto pass = scheduler.plan(start, interval);
        scheduler.geometryChecked();
        ASSERT_TRUE(scheduler.grabs(pass));
        failed ? scheduler.grabFailed() : scheduler.grabSkipped();

        pass = scheduler.plan(start + 5ms, interval);
        EXPECT_EQ(pass.checkGeometry, failed);
        if (!failed) {
            EXPECT_EQ(pass.wait, std::optional<Scheduler::Duration>(5ms));
        } else {
            scheduler.geometryChecked();
            EXPECT_FALSE(scheduler.grabs(pass));
        }

        pass = scheduler.plan(start + 10ms, interval);
        ASSERT_FALSE(pass.wait);
        if (pass.checkGeometry) {
            scheduler.geometryChecked();
        }
        EXPECT_TRUE(pass.tick);
        EXPECT_TRUE(scheduler.grabs(pass)) << "failed=" << failed;
    }
}

TEST(ScreenCaptureFrameSchedulerTest, TickLooksAtTheCursorWithoutGrabbing) {
    CaptureLoop loop;
    loop.pass(start);
    const auto pass = loop.scheduler.plan(start + 10ms, interval);
    ASSERT_FALSE(pass.wait);
    EXPECT_TRUE(pass.tick);
    EXPECT_TRUE(loop.scheduler.looksAtCursor(pass));
    EXPECT_FALSE(loop.scheduler.grabs(pass));
    // A cursor that moved is a change, grabbed in the same pass.
    loop.scheduler.contentChanged();
    EXPECT_TRUE(loop.scheduler.grabs(pass));
}

TEST(ScreenCaptureFrameSchedulerTest, WithoutAScreenOutputNothingIsGrabbedNorIdle) {
    Scheduler scheduler(false, start);
    auto pass = scheduler.plan(start, interval);
    scheduler.geometryChecked();
    EXPECT_FALSE(scheduler.grabs(pass));
    EXPECT_FALSE(scheduler.sendsIdleFrame(pass));
    scheduler.contentChanged();
    pass = scheduler.plan(start + 1ms, interval);
    EXPECT_EQ(pass.wait, std::optional<Scheduler::Duration>(9ms));
}

TEST(ScreenCaptureFrameSchedulerTest, LateTickStartsTheTicksAfreshFromNow) {
    Scheduler scheduler(false, start);
    scheduler.plan(start, interval);
    scheduler.geometryChecked();
    // Asleep for 35 ms: the missed ticks are not made up.
    EXPECT_TRUE(scheduler.plan(start + 35ms, interval).tick);
    EXPECT_EQ(scheduler.plan(start + 36ms, interval).wait, std::optional<Scheduler::Duration>(9ms));
}

}  // namespace
}  // namespace quillbridge
