#include "input/RemoteMouseController.hpp"

#include <chrono>
#include <cmath>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/ManualClock.hpp"
#include "support/input/RecordingInputPoster.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;
using Type = SyntheticMouseEventType;

class RemoteMouseControllerTest : public ::testing::Test {
protected:
    RecordingInputPoster poster;
    ManualClock clock;
    RemoteMouseController mouse{poster, poster, clock};
    ScopedLogCapture logs;

    void setFrame(double width = 1920, double height = 1080) {
        mouse.capturedDisplayFrame = {0, 0, width, height};
    }
    std::vector<SyntheticMouseEvent> mouseEvents() const { return poster.eventsOf<SyntheticMouseEvent>(); }
    std::vector<SyntheticScrollEvent> scrolls() const { return poster.eventsOf<SyntheticScrollEvent>(); }
    std::vector<std::string> errors() const { return logs.messages("RemoteMouseController"); }
    void click(MouseButton button) {
        mouse.handleButton(button, MouseButtonPhase::pressed);
        mouse.handleButton(button, MouseButtonPhase::released);
    }
};

TEST_F(RemoteMouseControllerTest, ButtonTableGivesEventTypesButtonClassAndNumber) {
    struct Case {
        MouseButton button;
        Type press;
        Type release;
        Type drag;
        std::uint32_t mouseButton;
        std::int64_t number;
    };
    const Case cases[] = {
        {MouseButton::primary, Type::leftMouseDown, Type::leftMouseUp, Type::leftMouseDragged, 0, 0},
        {MouseButton::secondary, Type::rightMouseDown, Type::rightMouseUp, Type::rightMouseDragged, 1, 1},
        {MouseButton::middle, Type::otherMouseDown, Type::otherMouseUp, Type::otherMouseDragged, 2, 2},
        {MouseButton::back, Type::otherMouseDown, Type::otherMouseUp, Type::otherMouseDragged, 2, 3},
        {MouseButton::forward, Type::otherMouseDown, Type::otherMouseUp, Type::otherMouseDragged, 2, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.button));
        poster.clear();
        mouse.handleButton(c.button, MouseButtonPhase::pressed);
        mouse.moveBy(3, 0);
        mouse.handleButton(c.button, MouseButtonPhase::released);
        auto events = mouseEvents();
        ASSERT_EQ(events.size(), 3u);
        EXPECT_EQ(events[0].type, c.press);
        EXPECT_EQ(events[0].pressure, 1.0);
        EXPECT_EQ(events[1].type, c.drag);
        EXPECT_EQ(events[1].buttonNumber, c.number);
        EXPECT_EQ(events[1].deltaX, 3);
        EXPECT_EQ(events[2].type, c.release);
        EXPECT_EQ(events[2].pressure, 0.0);
        for (const auto& event : events) {
            EXPECT_EQ(event.mouseButton, c.mouseButton);
            EXPECT_EQ(event.buttonNumber, c.number);
        }
        EXPECT_EQ(mouse.pressedMouseButton(), std::nullopt);
    }
    EXPECT_EQ(mouseEvents().back().eventNumber, 5);
}

TEST_F(RemoteMouseControllerTest, ClickCountingUsesTimeAndDistanceFromTheLastRelease) {
    struct Case {
        const char* name;
        Clock::Duration pause;
        double distance;
        std::int64_t expectedSecondClickState;
    };
    const Case cases[] = {
        {"at once, same place", 0s, 0, 2},        {"4.0 points away", 100ms, 4.0, 2},
        {"4.01 points away", 100ms, 4.01, 1},     {"exactly the interval", 500ms, 0, 2},
        {"just after the interval", 501ms, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingInputPoster localPoster;
        RemoteMouseController local{localPoster, localPoster, clock};
        local.handleButton(MouseButton::primary, MouseButtonPhase::pressed);
        local.handleButton(MouseButton::primary, MouseButtonPhase::released);
        clock.advance(c.pause);
        localPoster.cursor = DisplayPoint{c.distance, 0};
        local.handleButton(MouseButton::primary, MouseButtonPhase::pressed);
        auto events = localPoster.eventsOf<SyntheticMouseEvent>();
        ASSERT_EQ(events.size(), 3u);
        EXPECT_EQ(events[0].clickState, 1);
        EXPECT_EQ(events[1].clickState, 1);
        EXPECT_EQ(events[2].clickState, c.expectedSecondClickState);
    }
}

TEST_F(RemoteMouseControllerTest, ClickStateIsSharedByAllButtonsAndMeasuredFromTheRelease) {
    poster.cursor = DisplayPoint{100, 100};
    mouse.handleButton(MouseButton::primary, MouseButtonPhase::pressed);
    poster.cursor = DisplayPoint{110, 100};  // moved while held: the release location counts
    mouse.handleButton(MouseButton::primary, MouseButtonPhase::released);
    mouse.handleButton(MouseButton::secondary, MouseButtonPhase::pressed);
    mouse.handleButton(MouseButton::secondary, MouseButtonPhase::released);
    mouse.handleButton(MouseButton::primary, MouseButtonPhase::pressed);
    auto events = mouseEvents();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[2].clickState, 2);
    EXPECT_EQ(events[3].clickState, 2);
    EXPECT_EQ(events[4].clickState, 3);
}

TEST_F(RemoteMouseControllerTest, ReleasingAnotherButtonKeepsTheHeldOneAndItsDrag) {
    mouse.handleButton(MouseButton::primary, MouseButtonPhase::pressed);
    mouse.handleButton(MouseButton::secondary, MouseButtonPhase::released);
    EXPECT_EQ(mouse.pressedMouseButton(), MouseButton::primary);
    mouse.moveBy(2, 0);
    auto events = mouseEvents();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].type, Type::rightMouseUp);
    EXPECT_EQ(events[2].type, Type::leftMouseDragged);
}

TEST_F(RemoteMouseControllerTest, RelativeMovesKeepFractionsAndTruncateTowardsZero) {
    struct Step {
        double deltaX;
        std::optional<std::int64_t> postedX;
        double residualX;
    };
    const std::vector<std::vector<Step>> sequences = {
        {{0.4, std::nullopt, 0.4}, {0.4, std::nullopt, 0.8}, {0.4, 1, 0.2}},
        {{-2.7, -2, -0.7}},
        {{1.5, 1, 0.5}, {-1.0, std::nullopt, -0.5}},
    };
    for (const auto& sequence : sequences) {
        RecordingInputPoster localPoster;
        localPoster.cursor = DisplayPoint{500, 500};
        RemoteMouseController local{localPoster, localPoster, clock};
        for (const Step& step : sequence) {
            localPoster.clear();
            local.moveBy(step.deltaX, 0);
            auto events = localPoster.eventsOf<SyntheticMouseEvent>();
            if (step.postedX) {
                ASSERT_EQ(events.size(), 1u);
                EXPECT_EQ(events[0].deltaX, *step.postedX);
                EXPECT_EQ(events[0].type, Type::mouseMoved);
            } else {
                EXPECT_TRUE(events.empty());
            }
            EXPECT_NEAR(local.residualDeltaX(), step.residualX, 1e-9);
        }
    }
}

TEST_F(RemoteMouseControllerTest, RelativeMovesAreClampedAndAPinnedCursorDropsTheResidue) {
    setFrame();
    poster.cursor = DisplayPoint{1919, 500};
    mouse.moveBy(5.3, 0.6);
    EXPECT_TRUE(mouseEvents().empty());
    EXPECT_EQ(mouse.residualDeltaX(), 0);
    EXPECT_EQ(mouse.residualDeltaY(), 0);

    poster.cursor = DisplayPoint{1915, 500};
    mouse.moveBy(10, -3);
    auto events = mouseEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].location, (DisplayPoint{1919, 497}));
    EXPECT_EQ(events[0].deltaX, 4);
    EXPECT_EQ(events[0].deltaY, -3);
}

TEST_F(RemoteMouseControllerTest, AbsoluteMovesLandInsideTheCapturedDisplay) {
    struct Case {
        double nx;
        double ny;
        DisplayPoint target;
    };
    const Case cases[] = {
        {1.0, 1.0, {1919, 1079}}, {-0.5, 2.0, {0, 1079}}, {0.5, 0.25, {960, 270}}, {NAN, 0, {0, 0}}};
    for (const Case& c : cases) {
        RecordingInputPoster localPoster;
        localPoster.cursor = DisplayPoint{7, 7};
        RemoteMouseController local{localPoster, localPoster, clock};
        local.capturedDisplayFrame = {0, 0, 1920, 1080};
        local.moveTo(c.nx, c.ny);
        auto events = localPoster.eventsOf<SyntheticMouseEvent>();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].location, c.target);
        EXPECT_EQ(events[0].deltaX, std::llround(c.target.x - 7));
    }
}

TEST_F(RemoteMouseControllerTest, AbsoluteMoveWithoutDisplayOrToTheSamePointPostsNothing) {
    mouse.moveBy(0.5, 0);
    mouse.moveTo(0.5, 0.5);
    EXPECT_TRUE(mouseEvents().empty());
    EXPECT_EQ(mouse.residualDeltaX(), 0.5);
    EXPECT_THAT(errors(),
                ::testing::ElementsAre("Captured display frame is unavailable for absolute cursor movement"));

    setFrame(100, 100);
    poster.cursor = DisplayPoint{50, 50};
    mouse.moveTo(0.5, 0.5);
    EXPECT_TRUE(mouseEvents().empty());
    EXPECT_EQ(mouse.residualDeltaX(), 0);
}

TEST_F(RemoteMouseControllerTest, DeniedPermissionPostsNothingAndChangesNothing) {
    poster.allowed = false;
    mouse.handleButton(MouseButton::primary, MouseButtonPhase::pressed);
    mouse.moveBy(0.7, 0);
    mouse.scroll(0, 5, MouseScrollPhase::none, MouseScrollMomentumPhase::none);
    EXPECT_TRUE(poster.events().empty());
    EXPECT_EQ(mouse.pressedMouseButton(), std::nullopt);
    EXPECT_EQ(mouse.residualDeltaX(), 0);
    EXPECT_EQ(poster.accessRequests, 3);
    EXPECT_EQ(errors(), std::vector<std::string>(3, "Synthetic input permission was denied"));

    poster.allowedAfterRequest = true;
    mouse.moveBy(2, 0);
    EXPECT_EQ(mouseEvents().size(), 1u);
}

TEST_F(RemoteMouseControllerTest, FailedButtonEventKeepsStateAndLogs) {
    mouse.handleButton(MouseButton::primary, MouseButtonPhase::pressed);
    poster.failMouseEvents = true;
    mouse.handleButton(MouseButton::primary, MouseButtonPhase::released);
    EXPECT_EQ(mouse.pressedMouseButton(), MouseButton::primary);
    mouse.moveBy(1, 0);
    setFrame();
    mouse.moveTo(0.5, 0.5);
    EXPECT_THAT(errors(), ::testing::ElementsAre("Failed to create synthetic mouse events",
                                                 "Failed to create synthetic mouse move event",
                                                 "Failed to create synthetic absolute mouse move event"));
}

TEST_F(RemoteMouseControllerTest, ScrollLineDeltasMoveAtLeastOneLine) {
    struct Case {
        double pixels;
        std::int64_t lines;
    };
    for (const Case& c : {Case{3, 1}, Case{25, 2}, Case{-7, -1}, Case{0, 0}, Case{-31, -3}}) {
        poster.clear();
        mouse.scroll(c.pixels / 2, c.pixels, MouseScrollPhase::none, MouseScrollMomentumPhase::none);
        auto events = scrolls();
        ASSERT_EQ(events.size(), 1u) << c.pixels;
        EXPECT_EQ(events[0].lineDeltaY, c.lines) << c.pixels;
        EXPECT_EQ(events[0].pointDeltaY, static_cast<std::int32_t>(c.pixels));
        EXPECT_DOUBLE_EQ(events[0].fixedPointDeltaY, c.pixels / 10.0);
    }
}

TEST_F(RemoteMouseControllerTest, ScrollGesturePhasesFollowTheTable) {
    using P = MouseScrollPhase;
    using M = MouseScrollMomentumPhase;
    struct Step {
        P phase;
        M momentum;
        double deltaY;
        std::optional<std::int64_t> scrollPhase;  // nothing: no event
        std::int64_t momentumPhase;
        std::int64_t count;
        std::int32_t dy;
    };
    const std::vector<std::pair<const char*, std::vector<Step>>> gestures = {
        {"sub-pixel began then changed",
         {{P::mayBegin, M::none, 0, 128, 0, 0, 0},
          {P::began, M::none, 0.3, std::nullopt, 0, 0, 0},
          {P::changed, M::none, 0.3, 1, 0, 0, 1},
          {P::changed, M::none, 2, 2, 0, 0, 2},
          {P::ended, M::none, 0, 4, 0, 1, 0}}},
        {"ended without any delta",
         {{P::mayBegin, M::none, 0, 128, 0, 0, 0}, {P::ended, M::none, 0.2, std::nullopt, 0, 0, 0}}},
        {"momentum posts zero deltas",
         {{P::none, M::begin, 3, 0, 1, 1, 3},
          {P::none, M::continuous, 0, 0, 2, 1, 0},
          {P::none, M::end, 0, 0, 3, 0, 0}}},
        {"plain wheel", {{P::none, M::none, 0, 0, 0, 0, 0}}},
    };
    for (const auto& [name, steps] : gestures) {
        SCOPED_TRACE(name);
        RecordingInputPoster localPoster;
        RemoteMouseController local{localPoster, localPoster, clock};
        for (const Step& step : steps) {
            localPoster.clear();
            local.scroll(0, step.deltaY, step.phase, step.momentum);
            auto events = localPoster.eventsOf<SyntheticScrollEvent>();
            if (!step.scrollPhase) {
                EXPECT_TRUE(events.empty());
                continue;
            }
            ASSERT_EQ(events.size(), 1u);
            EXPECT_EQ(events[0].scrollPhase, *step.scrollPhase);
            EXPECT_EQ(events[0].momentumPhase, step.momentumPhase);
            EXPECT_EQ(events[0].scrollCount, step.count);
            EXPECT_EQ(events[0].pointDeltaY, step.dy);
        }
        EXPECT_EQ(local.residualScrollY(), 0);
    }
}

TEST_F(RemoteMouseControllerTest, ScrollRoundsHalvesAwayFromZeroAndSaturates) {
    mouse.scroll(-0.5, 0.5, MouseScrollPhase::none, MouseScrollMomentumPhase::none);
    mouse.scroll(0, 1e12, MouseScrollPhase::none, MouseScrollMomentumPhase::none);
    auto events = scrolls();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].pointDeltaX, -1);
    EXPECT_EQ(events[0].pointDeltaY, 1);
    EXPECT_EQ(events[1].pointDeltaY, 2147483647);
    poster.failScrollEvents = true;
    mouse.scroll(0, 4, MouseScrollPhase::none, MouseScrollMomentumPhase::none);
    EXPECT_THAT(errors(), ::testing::ElementsAre("Failed to create synthetic scroll event"));
}

}  // namespace
}  // namespace quillbridge
