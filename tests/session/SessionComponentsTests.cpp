#include <chrono>

#include <gtest/gtest.h>
#include <asio/io_context.hpp>

#include "RecordingSessionContext.hpp"
#include "core/ManualClock.hpp"
#include "session/KeyboardReporting.hpp"
#include "session/ScrollMomentum.hpp"
#include "support/RecordingRemoteInputSink.hpp"
#include "support/session/FakeKeyboardReportingService.hpp"

// The session's components on their own, against a recording session instead of a broadcaster.

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Case = StreamControlMessage::Case;

struct ComponentFixture : ::testing::Test {
    void drain() {
        context.restart();
        context.poll();
    }
    void advance(Clock::Duration duration) {
        clock.advance(duration);
        drain();
    }

    asio::io_context context;
    ManualClock clock;
    RecordingSessionContext session{context};
};

// Scroll momentum.

struct ScrollMomentumComponentTest : ComponentFixture {
    MouseScrollMessage flick(double velocityY) {
        MouseScrollMessage message;
        message.deltaY = 5;
        message.phase = MouseScrollPhase::ended;
        message.momentumVelocityX = 0;
        message.momentumVelocityY = velocityY;
        return message;
    }

    RecordingRemoteInputSink input;
    ScrollMomentum momentum{session, &clock, &input};
};

TEST_F(ScrollMomentumComponentTest, FlickDecaysInTicksAndEndsWithOneEndScroll) {
    momentum.handleMouseScroll(flick(600));
    drain();
    ASSERT_TRUE(momentum.isRunning());
    ASSERT_GE(input.scrolls.size(), 2u);
    EXPECT_EQ(input.scrolls[1].momentumPhase, MouseScrollMomentumPhase::begin);

    for (int tick = 0; tick < 200 && momentum.isRunning(); ++tick) {
        advance(16'666'666ns);
    }
    ASSERT_FALSE(momentum.isRunning());
    const auto& last = input.scrolls.back();
    EXPECT_EQ(last.momentumPhase, MouseScrollMomentumPhase::end);
    // The ticks in between carry a decaying distance, each continuing the momentum.
    for (std::size_t index = 2; index + 1 < input.scrolls.size(); ++index) {
        EXPECT_EQ(input.scrolls[index].momentumPhase, MouseScrollMomentumPhase::continuous);
        EXPECT_LE(input.scrolls[index].deltaY, input.scrolls[index - 1].deltaY);
    }
    EXPECT_EQ(std::ranges::count(input.scrolls, MouseScrollMomentumPhase::end,
                                 &RecordingRemoteInputSink::Scroll::momentumPhase),
              1);
}

TEST_F(ScrollMomentumComponentTest, StopEndsARunningMomentumOnceAndIsSilentOtherwise) {
    momentum.stop();
    EXPECT_TRUE(input.scrolls.empty());

    momentum.handleMouseScroll(flick(600));
    drain();
    momentum.stop();
    momentum.stop();
    advance(1s);
    EXPECT_FALSE(momentum.isRunning());
    EXPECT_EQ(std::ranges::count(input.scrolls, MouseScrollMomentumPhase::end,
                                 &RecordingRemoteInputSink::Scroll::momentumPhase),
              1);
}

TEST_F(ScrollMomentumComponentTest, SlowFlickStartsNoMomentum) {
    momentum.handleMouseScroll(flick(0.5));
    drain();
    EXPECT_FALSE(momentum.isRunning());
    EXPECT_EQ(input.scrolls.size(), 1u);
}

// Keyboard reporting.

struct KeyboardReportingComponentTest : ComponentFixture {
    KeyboardReportingComponentTest() {
        dependencies.clock = &clock;
        dependencies.keyboardReporting = &keyboard;
    }

    std::size_t sentLockStates() const {
        return std::ranges::count(session.sent, Case::keyboardLockState, &StreamControlMessage::messageCase);
    }

    FakeKeyboardReportingService keyboard;
    ScreenStreamBroadcasterDependencies dependencies;
    KeyboardReporting reporting{session, dependencies};
};

TEST_F(KeyboardReportingComponentTest, LockStateIsSentOnceAndAgainOnlyWhenItChanges) {
    reporting.startLockStateReporting();
    drain();
    EXPECT_EQ(sentLockStates(), 1u);
    advance(500ms);
    EXPECT_EQ(sentLockStates(), 1u);
    keyboard.lockState.capsLock = true;
    advance(500ms);
    EXPECT_EQ(sentLockStates(), 2u);
    // The keyboard's own report of the same state adds nothing.
    keyboard.lockStateDidChange(keyboard.lockState);
    drain();
    EXPECT_EQ(sentLockStates(), 2u);
}

TEST_F(KeyboardReportingComponentTest, NothingIsSentUntilAuthorisedAndASessionEndStartsOver) {
    session.authorized = false;
    reporting.startLockStateReporting();
    drain();
    EXPECT_EQ(sentLockStates(), 0u);

    session.authorized = true;
    reporting.startLockStateReporting();
    advance(500ms);
    EXPECT_EQ(sentLockStates(), 1u);

    reporting.endSession();
    advance(500ms);
    EXPECT_EQ(sentLockStates(), 1u);
    reporting.startLockStateReporting();
    drain();
    EXPECT_EQ(sentLockStates(), 2u);
}

}  // namespace
}  // namespace quillbridge
