#include "bridge/PersonaAVTimingCoordinator.hpp"

#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

constexpr std::int64_t ms = 1'000'000;
constexpr std::int64_t second = 1'000'000'000;
constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::uint64_t uint64Max = std::numeric_limits<std::uint64_t>::max();

// A headset whose clock runs `offset` behind the host's: its media time s maps to host time s + offset.
struct SynchronizedHeadset {
    PersonaAVTimingCoordinator clock;
    std::int64_t offset = 3 * second;
    std::int64_t source = 10 * second;

    // Sends a video frame `lateness` after its mapped time and returns the lead it was given.
    std::int64_t videoLead(std::int64_t lateness) {
        const std::int64_t mapped = source + offset;
        const std::int64_t presented = clock.videoPresentationHostTime(
            static_cast<std::uint64_t>(source), static_cast<std::uint64_t>(mapped + lateness));
        return presented - mapped;
    }
    void advance(std::int64_t duration) { source += duration; }
};

TEST(PersonaAVTimingCoordinator, ClockSynchronizationClampsTheLeadAndKeepsTheMicrophoneFloor) {
    struct Case {
        std::int64_t lead;
        bool microphoneDemanded;
        std::int64_t expectedLead;
    };
    const std::vector<Case> cases{
        {3 * ms, false, 8 * ms},     {3 * ms, true, 25 * ms},
        {500 * ms, false, 120 * ms}, {500 * ms, true, 120 * ms},
        {18 * ms, false, 18 * ms},   {40 * ms, true, 40 * ms},
        {-5 * ms, false, 8 * ms},    {std::numeric_limits<std::int64_t>::min(), false, 8 * ms},
        {int64Max, true, 120 * ms},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.lead);
        // A lead of 8 ms leaves no more than the 8 ms of emergency headroom: the first frame raises it to 10
        // ms.
        const std::int64_t expectedLead = testCase.expectedLead == 8 * ms ? 10 * ms : testCase.expectedLead;
        SynchronizedHeadset headset;
        headset.clock.setMicrophoneDemanded(testCase.microphoneDemanded);
        headset.clock.applyClockSynchronization(headset.offset, testCase.lead);
        EXPECT_EQ(headset.videoLead(0), expectedLead);
    }
}

TEST(PersonaAVTimingCoordinator, LateFrameRaisesTheLeadAtOnceInFiveMillisecondSteps) {
    SynchronizedHeadset headset;
    headset.clock.applyClockSynchronization(headset.offset, 18 * ms);
    EXPECT_EQ(headset.videoLead(0), 18 * ms);
    headset.advance(33 * ms);
    // 30 ms late: the target becomes 32 ms and the applied lead 35 ms.
    EXPECT_EQ(headset.videoLead(30 * ms), 35 * ms);
    headset.advance(33 * ms);
    EXPECT_EQ(headset.videoLead(0), 35 * ms);
}

// Runs on-time frames every 100 ms for `duration` and returns each lead with the host time it was first seen.
std::vector<std::pair<std::int64_t, std::int64_t>> leadChanges(SynchronizedHeadset& headset,
                                                               std::int64_t lateness, std::int64_t duration) {
    std::vector<std::pair<std::int64_t, std::int64_t>> changes;
    for (std::int64_t elapsed = 0; elapsed < duration; elapsed += 100 * ms) {
        headset.advance(100 * ms);
        const std::int64_t lead = headset.videoLead(lateness);
        if (changes.empty() || changes.back().second != lead) {
            changes.emplace_back(headset.source, lead);
        }
    }
    return changes;
}

TEST(PersonaAVTimingCoordinator, LeadFallsBackOneStepPerDwellAndSettlesNearTheStartupLead) {
    SynchronizedHeadset headset;
    headset.clock.applyClockSynchronization(headset.offset, 18 * ms);
    ASSERT_EQ(headset.videoLead(30 * ms), 35 * ms);
    const std::int64_t raisedAt = headset.source;

    // The target decays 2 ms a second back to the startup lead (7 s); the applied lead then steps once to 25
    // ms (an excess of 17 ms counts while the target sits at the startup lead) and stays, 7 ms above it.
    const auto changes = leadChanges(headset, 0, 30 * second);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].second, 35 * ms);
    EXPECT_EQ(changes[1].second, 25 * ms);
    EXPECT_GE(changes[1].first - raisedAt, 7 * second);
}

TEST(PersonaAVTimingCoordinator, AboveTheStartupLeadTheLeadFallsOnlyWhileEighteenMillisecondsTooHigh) {
    SynchronizedHeadset headset;
    headset.clock.applyClockSynchronization(headset.offset, 18 * ms);
    ASSERT_EQ(headset.videoLead(48 * ms), 50 * ms);

    // Frames now 20 ms late need 22 ms: the lead comes down 10 ms per 5 s while it exceeds the target by 18
    // ms or more, and stops at 30 ms (8 ms above a target that is not the startup lead).
    const auto changes = leadChanges(headset, 20 * ms, 40 * second);
    std::vector<std::int64_t> leads;
    for (std::size_t index = 0; index < changes.size(); ++index) {
        leads.push_back(changes[index].second);
        if (index > 1) {
            EXPECT_GE(changes[index].first - changes[index - 1].first, 5 * second);
        }
    }
    EXPECT_EQ(leads, (std::vector<std::int64_t>{50 * ms, 40 * ms, 30 * ms}));
}

TEST(PersonaAVTimingCoordinator, HalfASecondWithoutMediaStartsAgainFromTheStartupLead) {
    SynchronizedHeadset headset;
    headset.clock.applyClockSynchronization(headset.offset, 18 * ms);
    ASSERT_EQ(headset.videoLead(30 * ms), 35 * ms);
    headset.advance(500 * ms);
    EXPECT_EQ(headset.videoLead(0), 35 * ms) << "exactly half a second is not idle yet";
    headset.advance(500 * ms + 1);
    EXPECT_EQ(headset.videoLead(0), 18 * ms);
}

TEST(PersonaAVTimingCoordinator, MicrophoneDemandInTheSynchronizedModeReappliesTheFloor) {
    SynchronizedHeadset headset;
    headset.clock.applyClockSynchronization(headset.offset, 10 * ms);
    EXPECT_EQ(headset.videoLead(0), 10 * ms);
    headset.clock.setMicrophoneDemanded(true);
    headset.advance(33 * ms);
    EXPECT_EQ(headset.videoLead(0), 25 * ms);
    headset.clock.setMicrophoneDemanded(false);
    headset.advance(33 * ms);
    EXPECT_EQ(headset.videoLead(0), 10 * ms);
}

TEST(PersonaAVTimingCoordinator, ResetReturnsToTheLocalModeAndKeepsTheMicrophoneDemand) {
    SynchronizedHeadset headset;
    headset.clock.setMicrophoneDemanded(true);
    headset.clock.applyClockSynchronization(headset.offset, 3 * ms);
    headset.clock.reset();
    EXPECT_EQ(headset.clock.microphoneReservoirNanoseconds(), 40 * ms) << "local mode again";
    headset.clock.applyClockSynchronization(headset.offset, 3 * ms);
    EXPECT_EQ(headset.videoLead(0), 25 * ms) << "still demanded";
}

TEST(PersonaAVTimingCoordinator, LocalModeSchedulesFromTheFirstTransitAndSlewsTheAnchor) {
    PersonaAVTimingCoordinator clock;
    EXPECT_EQ(clock.microphoneReservoirNanoseconds(), 40 * ms);
    // The first frame: transit 10 ms, lead 8 ms plus twice the initial jitter of 5 ms.
    std::int64_t source = 1 * second;
    EXPECT_EQ(clock.videoPresentationHostTime(source, source + 10 * ms), source + 10 * ms + 18 * ms);
    // The second: the jitter falls by 1/64 to 4.921875 ms, so the target is 17.84375 ms after receipt; the
    // anchor moves towards it by no more than 150 us.
    source += 33 * ms;
    EXPECT_EQ(clock.videoPresentationHostTime(source, source + 10 * ms), source + 10 * ms + 17'850'000);
    EXPECT_EQ(clock.microphoneReservoirNanoseconds(), 30 * ms + 9'843'750);
}

TEST(PersonaAVTimingCoordinator, LocalModeKeepsEveryFrameBetweenTwoAndOneHundredTwentyMillisecondsAhead) {
    struct Case {
        std::uint64_t source;
        std::uint64_t receivedAt;
    };
    // A steady stream, then a frame far ahead, far behind and at the limits of the range.
    std::vector<Case> cases;
    for (std::uint64_t index = 0; index < 20; ++index) {
        cases.push_back({index * 33 * ms, 5 * second + index * 33 * ms + (index % 3) * 7 * ms});
    }
    cases.push_back({100 * second, 5 * second + 700 * ms});
    cases.push_back({0, 6 * second});
    cases.push_back({uint64Max, 6 * second + 10 * ms});
    cases.push_back({0, uint64Max});
    cases.push_back({uint64Max, uint64Max});
    for (bool demanded : {false, true}) {
        PersonaAVTimingCoordinator clock;
        clock.setMicrophoneDemanded(demanded);
        for (const auto& testCase : cases) {
            const std::int64_t receivedAt =
                static_cast<std::int64_t>(std::min<std::uint64_t>(testCase.receivedAt, int64Max));
            for (bool microphone : {false, true}) {
                const std::int64_t presented =
                    microphone ? clock.microphonePresentationHostTime(testCase.source, testCase.receivedAt)
                               : clock.videoPresentationHostTime(testCase.source, testCase.receivedAt);
                EXPECT_GE(presented, std::min(receivedAt, int64Max - 2 * ms) + 2 * ms);
                EXPECT_LE(presented, receivedAt > int64Max - 120 * ms ? int64Max : receivedAt + 120 * ms);
            }
            EXPECT_GE(clock.microphoneReservoirNanoseconds(), 30 * ms);
            EXPECT_LE(clock.microphoneReservoirNanoseconds(), 120 * ms);
        }
    }
}

TEST(PersonaAVTimingCoordinator, LocalMicrophoneDemandDiscardsTheAnchorAndTheJitter) {
    PersonaAVTimingCoordinator clock;
    std::int64_t source = 1 * second;
    for (int index = 0; index < 10; ++index, source += 20 * ms) {
        clock.videoPresentationHostTime(source, source + 10 * ms + (index % 2) * 20 * ms);
    }
    const std::int64_t jitteryReservoir = clock.microphoneReservoirNanoseconds();
    ASSERT_GT(jitteryReservoir, 40 * ms);

    clock.setMicrophoneDemanded(false);
    EXPECT_EQ(clock.microphoneReservoirNanoseconds(), jitteryReservoir) << "no change, nothing happens";
    clock.setMicrophoneDemanded(true);
    EXPECT_EQ(clock.microphoneReservoirNanoseconds(), 40 * ms);
    // A new anchor: the next frame lands on its target (transit 50 ms + lead 25 ms + 10 ms), not slewed.
    EXPECT_EQ(clock.videoPresentationHostTime(source, source + 50 * ms), source + 85 * ms);

    // Turning the demand off again leaves the local history alone.
    source += 20 * ms;
    const std::int64_t reservoir = clock.microphoneReservoirNanoseconds();
    clock.setMicrophoneDemanded(false);
    EXPECT_EQ(clock.microphoneReservoirNanoseconds(), reservoir);
}

TEST(PersonaAVTimingCoordinator, PlaybackObservationsHoldTheAnchorInTheLocalMode) {
    PersonaAVTimingCoordinator clock;
    std::int64_t source = 1 * second;
    // The virtual microphone played source time 1 s at host time 5 s.
    clock.recordAudioPlaybackObservation(source, 5 * second);
    // A chunk that arrives right then keeps that mapping (5 s + 20 ms lies inside the window).
    source += 20 * ms;
    EXPECT_EQ(clock.microphonePresentationHostTime(source, 5 * second), 5 * second + 20 * ms);
    // A later observation moves the anchor by at most 150 us.
    clock.recordAudioPlaybackObservation(source, 5 * second + 30 * ms);
    EXPECT_EQ(clock.microphonePresentationHostTime(source, 5 * second), 5 * second + 20 * ms + 150'000);
}

TEST(PersonaAVTimingCoordinator, SynchronizedMicrophoneReservoirJumpsUpAndStepsDownSlowly) {
    SynchronizedHeadset headset;
    headset.clock.applyClockSynchronization(headset.offset, 18 * ms);
    EXPECT_EQ(headset.clock.microphoneReservoirNanoseconds(), 30 * ms);
    auto chunk = [&](std::int64_t lateness) {
        headset.clock.microphonePresentationHostTime(
            static_cast<std::uint64_t>(headset.source),
            static_cast<std::uint64_t>(headset.source + headset.offset + lateness));
        return headset.clock.microphoneReservoirNanoseconds();
    };
    EXPECT_EQ(chunk(0), 30 * ms);
    headset.advance(20 * ms);
    // 13 ms above the fastest transit asks for 43 ms, applied as 45 ms.
    EXPECT_EQ(chunk(13 * ms), 45 * ms);

    std::vector<std::pair<std::int64_t, std::int64_t>> changes{{headset.source, 45 * ms}};
    for (int index = 0; index < 2000; ++index) {
        headset.advance(20 * ms);
        const std::int64_t reservoir = chunk(0);
        if (reservoir != changes.back().second) {
            EXPECT_GE(headset.source - changes.back().first, 5 * second);
            changes.emplace_back(headset.source, reservoir);
        }
    }
    std::vector<std::int64_t> reservoirs;
    for (const auto& change : changes) {
        reservoirs.push_back(change.second);
    }
    EXPECT_EQ(reservoirs, (std::vector<std::int64_t>{45 * ms, 40 * ms, 35 * ms}));

    // A new timeline starts the reservoir again from 30 ms.
    headset.clock.resetMicrophoneReservoir();
    EXPECT_EQ(headset.clock.microphoneReservoirNanoseconds(), 30 * ms);
}

TEST(PersonaAVTimingCoordinator, SynchronizedTimesSaturateAtTheRangeLimits) {
    struct Case {
        std::int64_t offset;
        std::uint64_t source;
        std::uint64_t receivedAt;
        std::int64_t expected;
    };
    const std::vector<Case> cases{
        {int64Max, uint64Max, 0, int64Max},
        {int64Max, 5, 7, int64Max},
        {std::numeric_limits<std::int64_t>::min(), 0, uint64Max, 0},
        {std::numeric_limits<std::int64_t>::min(), uint64Max, 0,
         int64Max + std::numeric_limits<std::int64_t>::min() + 18 * ms},
        {0, uint64Max, uint64Max, int64Max},
        {-3 * second, 1 * second, 0, 0},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.offset);
        for (bool microphone : {false, true}) {
            PersonaAVTimingCoordinator clock;
            clock.applyClockSynchronization(testCase.offset, 18 * ms);
            const std::int64_t presented =
                microphone ? clock.microphonePresentationHostTime(testCase.source, testCase.receivedAt)
                           : clock.videoPresentationHostTime(testCase.source, testCase.receivedAt);
            if (testCase.receivedAt == 0 || testCase.expected == 0 || testCase.expected == int64Max) {
                EXPECT_EQ(presented, testCase.expected);
            } else {
                EXPECT_GE(presented, 0);
            }
            EXPECT_GE(clock.microphoneReservoirNanoseconds(), 30 * ms);
            EXPECT_LE(clock.microphoneReservoirNanoseconds(), 120 * ms);
        }
    }
    PersonaAVTimingCoordinator clock;
    clock.recordAudioPlaybackObservation(std::numeric_limits<std::int64_t>::min(), int64Max);
    clock.recordAudioPlaybackObservation(int64Max, std::numeric_limits<std::int64_t>::min());
    const std::int64_t presented = clock.videoPresentationHostTime(uint64Max, 1 * second);
    EXPECT_GE(presented, 1 * second + 2 * ms);
    EXPECT_LE(presented, 1 * second + 120 * ms);
}

TEST(PersonaAVTimingCoordinator, CallersOnSeveralThreadsNeverHoldTheLockThemselves) {
    PersonaAVTimingCoordinator clock;
    std::vector<std::thread> callers;
    for (int caller = 0; caller < 4; ++caller) {
        callers.emplace_back([&clock, caller] {
            for (std::uint64_t index = 0; index < 2000; ++index) {
                const std::uint64_t time = index * 20 * ms;
                switch ((index + static_cast<std::uint64_t>(caller)) % 6) {
                    case 0:
                        clock.videoPresentationHostTime(time, time + 5 * ms);
                        break;
                    case 1:
                        clock.microphonePresentationHostTime(time, time + 7 * ms);
                        break;
                    case 2:
                        clock.setMicrophoneDemanded(index % 4 == 2);
                        break;
                    case 3:
                        clock.applyClockSynchronization(-2 * ms, 20 * ms);
                        break;
                    case 4:
                        clock.recordAudioPlaybackObservation(static_cast<std::int64_t>(time),
                                                             static_cast<std::int64_t>(time));
                        break;
                    default:
                        clock.reset();
                        break;
                }
            }
        });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    EXPECT_GE(clock.microphoneReservoirNanoseconds(), 30 * ms);
}

}  // namespace
}  // namespace quillbridge
