#include "capture/AudioSampleClock.hpp"

#include <optional>
#include <vector>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

constexpr std::uint64_t millisecond = 1'000'000;
constexpr std::optional<std::uint64_t> unmeasured = std::nullopt;

// The sound server's timing as a test sets it.
struct FakeCaptureTiming final : AudioCaptureTiming {
    std::uint64_t now = 0;
    std::optional<std::uint64_t> age;

    std::uint64_t nowNanoseconds() override { return now; }
    std::optional<std::uint64_t> unreadAudioAgeNanoseconds() override { return age; }
};

struct Read {
    std::uint64_t frames;
    std::uint64_t nowNanoseconds;
    // How long ago the buffer's first frame was captured, as the server tells; unmeasured when it does not.
    std::optional<std::uint64_t> ageNanoseconds;
    std::uint64_t expectedStamp;
    std::uint64_t expectedResyncs;
};

struct Case {
    const char* name;
    std::vector<Read> reads;
};

void check(const Case& testCase, std::uint32_t rate = 48000) {
    SCOPED_TRACE(testCase.name);
    FakeCaptureTiming timing;
    AudioSampleClock clock(rate, 20 * millisecond, timing);
    for (const Read& read : testCase.reads) {
        timing.now = read.nowNanoseconds;
        timing.age = read.ageNanoseconds;
        EXPECT_EQ(clock.stamp(read.frames), read.expectedStamp);
        EXPECT_EQ(clock.resyncCount(), read.expectedResyncs);
    }
}

TEST(AudioSampleClockTest, WithoutTheServersTimingStampsCountFromTheFirstReadAndReanchorOnDrift) {
    const Case cases[] = {
        {"jitter under the threshold keeps exact spacing",
         {{480, 1000 * millisecond, unmeasured, 990 * millisecond, 0},
          {480, 1013 * millisecond, unmeasured, 1000 * millisecond, 0},
          {480, 1019 * millisecond, unmeasured, 1010 * millisecond, 0},
          {960, 1045 * millisecond, unmeasured, 1020 * millisecond, 0}}},
        {"a stall beyond the threshold re-anchors to the clock",
         {{480, 1000 * millisecond, unmeasured, 990 * millisecond, 0},
          {480, 1100 * millisecond, unmeasured, 1090 * millisecond, 1},
          {480, 1110 * millisecond, unmeasured, 1100 * millisecond, 1}}},
        {"a burst ahead of the clock also re-anchors",
         {{480, 1000 * millisecond, unmeasured, 990 * millisecond, 0},
          {4800, 1010 * millisecond, unmeasured, 910 * millisecond, 1}}},
    };
    for (const Case& testCase : cases) {
        check(testCase);
    }
    check({"44.1 kHz counts exactly",
           {{441, 1000 * millisecond, unmeasured, 990 * millisecond, 0},
            {441, 1010 * millisecond, unmeasured, 1000 * millisecond, 0},
            {44100, 2010 * millisecond, unmeasured, 1010 * millisecond, 0}}},
          44100);
}

TEST(AudioSampleClockTest, TheServersTimingGivesTheCaptureTimeHoweverLateTheBufferIsRead) {
    const Case cases[] = {
        {"a first buffer read late is stamped when it was captured",
         {{480, 1015 * millisecond, 25 * millisecond, 990 * millisecond, 0},
          {480, 1016 * millisecond, 16 * millisecond, 1000 * millisecond, 0},
          {480, 1030 * millisecond, 20 * millisecond, 1010 * millisecond, 0}}},
        {"a reader stalled far beyond the threshold keeps the count",
         {{480, 1000 * millisecond, 10 * millisecond, 990 * millisecond, 0},
          {480, 1100 * millisecond, 100 * millisecond, 1000 * millisecond, 0},
          {480, 1101 * millisecond, 91 * millisecond, 1010 * millisecond, 0}}},
        {"data the server lost re-anchors to its measure",
         {{480, 1000 * millisecond, 10 * millisecond, 990 * millisecond, 0},
          {480, 1060 * millisecond, 10 * millisecond, 1050 * millisecond, 1},
          {480, 1070 * millisecond, 10 * millisecond, 1060 * millisecond, 1}}},
        {"the first measure replaces an anchor taken at reading, even close to it",
         {{480, 1000 * millisecond, unmeasured, 990 * millisecond, 0},
          {480, 1012 * millisecond, 30 * millisecond, 982 * millisecond, 1},
          {480, 1020 * millisecond, 28 * millisecond, 992 * millisecond, 1}}},
        {"a measure missing later keeps the measured anchor",
         {{480, 1015 * millisecond, 25 * millisecond, 990 * millisecond, 0},
          {480, 1015 * millisecond, unmeasured, 1000 * millisecond, 0},
          {480, 1030 * millisecond, 20 * millisecond, 1010 * millisecond, 0}}},
    };
    for (const Case& testCase : cases) {
        check(testCase);
    }
}

TEST(AudioSampleClockTest, HolesAdvanceTheTimelineAndResetStartsANewOne) {
    FakeCaptureTiming timing;
    AudioSampleClock clock(48000, 20 * millisecond, timing);
    timing.now = 1000 * millisecond;
    EXPECT_EQ(clock.stamp(480), 990 * millisecond);
    clock.skip(480);
    timing.now = 1020 * millisecond;
    EXPECT_EQ(clock.stamp(480), 1010 * millisecond);
    clock.reset();
    timing.now = 5000 * millisecond;
    timing.age = 20 * millisecond;
    EXPECT_EQ(clock.stamp(480), 4980 * millisecond);
    EXPECT_EQ(clock.resyncCount(), 0u);
}

}  // namespace
}  // namespace quillbridge
