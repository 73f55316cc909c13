#include "capture/AudioSampleClock.hpp"

#include <vector>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

constexpr std::uint64_t millisecond = 1'000'000;

TEST(AudioSampleClockTest, StampsFollowTheSampleCountAndReanchorOnDrift) {
    struct Arrival {
        std::uint64_t frames;
        std::uint64_t arrivalNanoseconds;
        std::uint64_t expectedStamp;
        std::uint64_t expectedResyncs;
    };
    struct Case {
        const char* name;
        std::vector<Arrival> arrivals;
    };
    const Case cases[] = {
        {"jitter under the threshold keeps exact spacing",
         {{480, 1000 * millisecond, 990 * millisecond, 0},
          {480, 1013 * millisecond, 1000 * millisecond, 0},
          {480, 1019 * millisecond, 1010 * millisecond, 0},
          {960, 1045 * millisecond, 1020 * millisecond, 0}}},
        {"a stall beyond the threshold re-anchors to the clock",
         {{480, 1000 * millisecond, 990 * millisecond, 0},
          {480, 1100 * millisecond, 1090 * millisecond, 1},
          {480, 1110 * millisecond, 1100 * millisecond, 1}}},
        {"a burst ahead of the clock also re-anchors",
         {{480, 1000 * millisecond, 990 * millisecond, 0}, {4800, 1010 * millisecond, 910 * millisecond, 1}}},
        {"44.1 kHz counts exactly",
         {{441, 1000 * millisecond, 990 * millisecond, 0},
          {441, 1010 * millisecond, 1000 * millisecond, 0},
          {44100, 2010 * millisecond, 1010 * millisecond, 0}}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const std::uint32_t rate = testCase.arrivals.front().frames == 441 ? 44100 : 48000;
        AudioSampleClock clock(rate, 20 * millisecond);
        for (const auto& arrival : testCase.arrivals) {
            EXPECT_EQ(clock.stamp(arrival.frames, arrival.arrivalNanoseconds), arrival.expectedStamp);
            EXPECT_EQ(clock.resyncCount(), arrival.expectedResyncs);
        }
    }
}

TEST(AudioSampleClockTest, HolesAdvanceTheTimelineAndResetStartsANewOne) {
    AudioSampleClock clock(48000, 20 * millisecond);
    EXPECT_EQ(clock.stamp(480, 1000 * millisecond), 990 * millisecond);
    clock.skip(480);
    EXPECT_EQ(clock.stamp(480, 1020 * millisecond), 1010 * millisecond);
    clock.reset();
    EXPECT_EQ(clock.stamp(480, 5000 * millisecond), 4990 * millisecond);
    EXPECT_EQ(clock.resyncCount(), 0u);
}

}  // namespace
}  // namespace quillbridge
