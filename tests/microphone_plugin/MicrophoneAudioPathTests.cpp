// The audio path: packet checks in their order, the ring, the adaptive reader on a manual clock, and the
// diagnostics.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "microphone_plugin/MicrophoneAdaptiveReader.hpp"
#include "microphone_plugin/MicrophoneSequencedPair.hpp"
#include "support/microphone/MicrophoneDriverHarness.hpp"

namespace quillbridge {
namespace {

using namespace microphone;
namespace sel = microphone::selector;

std::vector<float> ramp(std::size_t count, float first = 1) {
    std::vector<float> samples(count);
    std::iota(samples.begin(), samples.end(), first);
    return samples;
}

std::vector<std::uint8_t> packetOf(std::uint32_t frames) {
    return encodeMicrophonePacket(MicrophonePacketHeader{1, 0, 0, 0, 1440},
                                  std::span<const float>(std::vector<float>(frames, 0.5f)));
}

bool allZero(const std::vector<float>& samples) {
    return std::all_of(samples.begin(), samples.end(), [](float sample) { return sample == 0; });
}

TEST(MicrophonePacketTests, ChecksRunInOrderAndTheFirstThatFailsDecides) {
    MicrophoneDriverHarness harness;
    auto address = MicrophoneDriverHarness::address(sel::audioPacket);
    auto setRaw = [&harness, &address](std::uint32_t size, const void* data) {
        return harness.table().setPropertyData(harness.ref, deviceObjectID, 0, &address, 0, nullptr, size,
                                               data);
    };
    auto withBytes = [](std::vector<std::uint8_t> bytes, auto&& change) {
        change(bytes);
        return bytes;
    };
    auto good = packetOf(480);
    ASSERT_EQ(good.size(), 1960u);
    auto badMagic = [](std::vector<std::uint8_t>& bytes) { bytes[0] = 'X'; };
    auto version1 = [](std::vector<std::uint8_t>& bytes) { bytes[4] = 1; };
    auto truncate = [](std::size_t size) {
        return [size](std::vector<std::uint8_t>& bytes) { bytes.resize(size); };
    };

    struct PacketCase {
        const char* name;
        std::vector<std::uint8_t> packet;
        MicrophoneStatus status;
    };
    const PacketCase cases[] = {
        {"480 frames in 1960 bytes", good, 0},
        {"no frames in 40 bytes", packetOf(0), 0},
        {"4 bytes short", withBytes(good, truncate(1956)), status::badPropertySize},
        {"4 bytes over", withBytes(good, [](auto& bytes) { bytes.resize(1964); }), status::badPropertySize},
        {"version 1", withBytes(good, version1), status::illegalOperation},
        {"wrong magic", withBytes(good, badMagic), status::illegalOperation},
        {"under a header", withBytes(good, truncate(39)), status::badPropertySize},
        {"empty", {}, status::badPropertySize},
        // Length before magic: a short packet with a wrong magic is a size error.
        {"under a header with wrong magic", withBytes(withBytes(good, badMagic), truncate(20)),
         status::badPropertySize},
        // Magic before exact length: a wrong magic of the wrong length is refused for its magic.
        {"wrong magic and length", withBytes(withBytes(good, badMagic), truncate(1000)),
         status::illegalOperation},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(harness.writePacket(test.packet), test.status);
    }

    auto text = MicrophonePropertyObjectRef::adopt(MicrophonePropertyObject::createString("AMBQ"));
    const MicrophonePropertyObject* textPointer = text.get();
    const MicrophonePropertyObject* null = nullptr;
    std::uint32_t four = 0;
    EXPECT_EQ(setRaw(4, &four), status::badPropertySize) << "the reference is 8 bytes";
    EXPECT_EQ(setRaw(8, nullptr), status::illegalOperation);
    EXPECT_EQ(setRaw(8, &null), status::illegalOperation);
    EXPECT_EQ(setRaw(8, &textPointer), status::illegalOperation) << "a string is not data";
    EXPECT_EQ(setRaw(4, nullptr), status::badPropertySize) << "the size is checked before the pointer";
    // Only the two accepted packets were written.
    EXPECT_EQ(harness.diagnostics().writeFrames, 480);
}

TEST(MicrophoneRingTests, TheTargetIsKeptWithinItsBoundsAndReportedAsTheLatency) {
    MicrophoneDriverHarness harness;
    auto latency = [&harness] {
        return harness.u32(deviceObjectID, MicrophoneDriverHarness::address(sel::latency, scope::input));
    };
    for (auto [given, kept] : {std::pair{100u, 1440u}, {10000u, 5760u}, {2000u, 2000u}}) {
        ASSERT_EQ(harness.writeSamples({0.5f}, 1, given), 0);
        EXPECT_EQ(latency(), kept);
        EXPECT_EQ(harness.diagnostics().targetFrames, static_cast<std::int32_t>(kept));
    }
}

TEST(MicrophoneRingTests, NothingPlaysUntilTheTargetIsQueued) {
    MicrophoneDriverHarness harness;
    ASSERT_EQ(harness.writeSamples(ramp(1439)), 0);
    EXPECT_TRUE(allZero(harness.readInput(480)));
    EXPECT_EQ(harness.diagnostics().queuedFrames, 1439);
    EXPECT_EQ(harness.diagnostics().underflows, 0) << "prebuffering is not starvation";
    ASSERT_EQ(harness.writeSamples({1440.0f}), 0);
    auto output = harness.readInput(480);
    EXPECT_EQ(output[0], 1.0f);
    EXPECT_NE(output[479], 0.0f);
}

TEST(MicrophoneRingTests, TheRateFollowsTheQueueWithinTwoPercent) {
    EXPECT_DOUBLE_EQ(MicrophoneAdaptiveReader::playbackRate(1440, 1440), 1.0);
    EXPECT_DOUBLE_EQ(MicrophoneAdaptiveReader::playbackRate(2880, 1440), 1.02);
    EXPECT_DOUBLE_EQ(MicrophoneAdaptiveReader::playbackRate(720, 1440), 0.99);
    EXPECT_DOUBLE_EQ(MicrophoneAdaptiveReader::playbackRate(4320, 1440), 1.02);
    EXPECT_DOUBLE_EQ(MicrophoneAdaptiveReader::playbackRate(0, 1440), 0.98);
}

TEST(MicrophoneRingTests, PlaybackInterpolatesLinearlyAtTheAdjustedRate) {
    MicrophoneDriverHarness harness;
    ASSERT_EQ(harness.writeSamples(ramp(2880, 0)), 0);
    auto output = harness.readInput(480);
    for (std::size_t index = 0; index < output.size(); ++index) {
        ASSERT_NEAR(output[index], index * 1.02, 1e-3) << index;
    }
    // 480 frames at 1.02 consume 489.6 frames: 489 whole frames, and the phase carries the rest.
    EXPECT_EQ(harness.diagnostics().queuedFrames, 2880 - 489);
    EXPECT_EQ(harness.diagnostics().readFrames, 480);
}

TEST(MicrophoneRingTests, AQueueBelowTargetWhilePlayingSlowsDown) {
    MicrophoneDriverHarness harness;
    ASSERT_EQ(harness.writeSamples(ramp(1440, 0)), 0);
    harness.readInput(720);  // at 1.0, leaving 720 queued
    ASSERT_EQ(harness.diagnostics().queuedFrames, 720);
    auto output = harness.readInput(100);
    for (std::size_t index = 0; index < output.size(); ++index) {
        ASSERT_NEAR(output[index], 720 + index * 0.99, 1e-3) << index;
    }
}

TEST(MicrophoneRingTests, AnOversizedPacketKeepsItsLastRingOfFramesWithTheirSourceTimes) {
    MicrophoneDriverHarness harness;
    const std::uint64_t sourceTime = 5'000'000'000;
    ASSERT_EQ(harness.writeSamples(ramp(20000, 0), 1, 1440, sourceTime), 0);
    EXPECT_EQ(harness.diagnostics().writeFrames, 16384);
    EXPECT_EQ(harness.diagnostics().overflows, 0);
    auto output = harness.readInput(480, 7'000'000'000);
    EXPECT_EQ(output[0], 3616.0f);
    auto diagnostics = harness.diagnostics();
    EXPECT_EQ(diagnostics.renderedSourceTimeNanoseconds,
              static_cast<std::int64_t>(sourceTime + 3616ull * 1'000'000'000 / 48000));
    EXPECT_EQ(diagnostics.renderHostTimeNanoseconds, 7'000'000'000);
}

TEST(MicrophoneRingTests, ALappedReaderCountsOneOverflowPerPacketAndSkipsToTheLastRing) {
    MicrophoneDriverHarness harness;
    ASSERT_EQ(harness.writeSamples(ramp(16384, 0)), 0);
    ASSERT_EQ(harness.writeSamples(ramp(480, 16384)), 0);
    ASSERT_EQ(harness.writeSamples(ramp(480, 16864)), 0);
    EXPECT_EQ(harness.diagnostics().overflows, 2);
    auto output = harness.readInput(480);
    EXPECT_EQ(output[0], 960.0f) << "the reader starts a ring behind the writer";
    EXPECT_EQ(harness.diagnostics().underflows, 0);
}

TEST(MicrophoneRingTests, RunningDryOutputsSilenceCountsOneUnderflowAndWaitsForTheTargetAgain) {
    MicrophoneDriverHarness harness;
    ASSERT_EQ(harness.writeSamples(ramp(1500, 1)), 0);
    harness.readInput(1400);
    auto dry = harness.readInput(480);
    EXPECT_NE(dry[0], 0.0f);
    EXPECT_EQ(dry[479], 0.0f);
    auto firstSilent = std::find(dry.begin(), dry.end(), 0.0f) - dry.begin();
    EXPECT_TRUE(std::all_of(dry.begin() + firstSilent, dry.end(), [](float sample) { return sample == 0; }));
    EXPECT_EQ(harness.diagnostics().underflows, 1);

    ASSERT_EQ(harness.writeSamples(ramp(1000, 2000)), 0);
    EXPECT_TRUE(allZero(harness.readInput(480))) << "back to prebuffering below the target";
    EXPECT_EQ(harness.diagnostics().underflows, 1);
    ASSERT_EQ(harness.writeSamples(ramp(440, 3000)), 0);
    EXPECT_EQ(harness.readInput(480)[0], 2000.0f);
}

TEST(MicrophoneRingTests, ANewStreamWithAFutureStartTimeWaitsForIt) {
    MicrophoneDriverHarness harness;
    const std::uint64_t now = 50'000'000'000;
    ASSERT_EQ(harness.writeSamples(ramp(2000, 1), 1), 0);
    EXPECT_NE(harness.readInput(480, now)[0], 0.0f);
    ASSERT_EQ(harness.writeSamples(ramp(2000, 7), 2, 1440, 0, static_cast<std::int64_t>(now + 1'000'000'000)),
              0);
    EXPECT_TRUE(allZero(harness.readInput(480, now + 10'000'000)));
    EXPECT_EQ(harness.diagnostics().queuedFrames, 2000) << "the new stream starts at position 0";
    EXPECT_TRUE(allZero(harness.readInput(480, now + 999'999'999)));
    EXPECT_EQ(harness.readInput(480, now + 1'000'000'000)[0], 7.0f);
}

TEST(MicrophoneRingTests, AStartTimeIsNotWaitedForWithoutAValidHostTime) {
    MicrophoneDriverHarness harness;
    ASSERT_EQ(harness.writeSamples(ramp(2000, 1), 1, 1440, 0, 1'000'000'000'000'000), 0);
    EXPECT_EQ(harness.readInput(480)[0], 1.0f);
}

TEST(MicrophoneRingTests, RaisingTheTargetPausesPlaybackUntilTheQueueReachesIt) {
    MicrophoneDriverHarness harness;
    ASSERT_EQ(harness.writeSamples(ramp(2000, 1)), 0);
    EXPECT_NE(harness.readInput(480)[0], 0.0f);
    ASSERT_EQ(harness.writeSamples(ramp(480, 5000), 1, 2880), 0);
    EXPECT_TRUE(allZero(harness.readInput(480)));
    ASSERT_EQ(harness.writeSamples(ramp(960, 6000), 1, 2880), 0);
    EXPECT_NE(harness.readInput(480)[0], 0.0f);
}

TEST(MicrophoneRingTests, StartingIOResetsPositionsCountersAndTheReaderButKeepsTheTotals) {
    MicrophoneDriverHarness harness;
    ASSERT_EQ(harness.writeSamples(ramp(16384 + 480, 1), 1, 2880), 0);
    harness.readInput(480, 1'000'000'000);
    harness.readInput(16000, 1'000'000'000);
    harness.readInput(480, 1'000'000'000);
    auto before = harness.diagnostics();
    ASSERT_GT(before.underflows, 0);
    ASSERT_NE(before.renderHostTimeNanoseconds, 0);

    ASSERT_EQ(harness.startIO(), 0);
    MicrophoneDiagnostics expected{before.writeFrames, before.readFrames, 0, 0, 0, 1440, 0, 0};
    EXPECT_EQ(harness.diagnostics(), expected);
    EXPECT_TRUE(allZero(harness.readInput(480)));
    expected.readFrames += 480;
    EXPECT_EQ(harness.diagnostics(), expected);
    // The writer's stream continues, from position 0.
    ASSERT_EQ(harness.writeSamples(ramp(1440, 9), 1), 0);
    EXPECT_EQ(harness.readInput(480)[0], 9.0f);
}

TEST(MicrophoneRingTests, AnEmptyCyclePublishesTheReadPositionOnly) {
    MicrophoneDriverHarness harness;
    ASSERT_EQ(harness.writeSamples(ramp(16384, 0)), 0);
    ASSERT_EQ(harness.writeSamples(ramp(100, 0)), 0);
    ASSERT_EQ(harness.diagnostics().queuedFrames, 16484);
    harness.readInput(0);
    EXPECT_EQ(harness.lastIOStatus, 0);
    EXPECT_EQ(harness.diagnostics().queuedFrames, 16384);
    EXPECT_EQ(harness.diagnostics().readFrames, 0);
    EXPECT_EQ(harness.diagnostics().renderedSourceTimeNanoseconds, 0);
}

TEST(MicrophoneRingTests, TheRenderedPairIsKeptOnlyForCyclesWithAHostTime) {
    MicrophoneDriverHarness harness;
    ASSERT_EQ(harness.writeSamples(ramp(4000, 0), 1, 1440, 1'000'000), 0);
    harness.readInput(480);
    EXPECT_EQ(harness.diagnostics().renderHostTimeNanoseconds, 0);
    harness.readInput(480, 2'000'000'000);
    auto diagnostics = harness.diagnostics();
    EXPECT_EQ(diagnostics.renderHostTimeNanoseconds, 2'000'000'000);
    // The second cycle started where the first (at 1.02 with 4000 queued) left off: 489 frames in.
    EXPECT_EQ(diagnostics.renderedSourceTimeNanoseconds, 1'000'000 + 489ll * 1'000'000'000 / 48000);
}

TEST(MicrophoneSequencedPairTests, AReadGivesUpOnAWriterStoppedHalfWayInsteadOfSpinning) {
    MicrophoneSequencedPair pair;
    pair.write(1, 2);
    EXPECT_EQ(pair.read(), (std::pair<std::uint64_t, std::uint64_t>(1, 2)));
    pair.beginWrite();
    pair.storeValues(3, 4);
    EXPECT_EQ(pair.read(), std::nullopt);
    pair.endWrite();
    EXPECT_EQ(pair.read(), (std::pair<std::uint64_t, std::uint64_t>(3, 4)));
}

}  // namespace
}  // namespace quillbridge
