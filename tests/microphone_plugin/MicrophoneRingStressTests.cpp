// The lock-free paths on real threads, short runs meant for ThreadSanitizer: a ring slot is never read torn,
// the rendered pair is never read half-updated, and the start of IO never interleaves with a packet write.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/microphone/MicrophoneDriverHarness.hpp"

namespace quillbridge {
namespace {

using namespace microphone;

// A sample that encodes its position exactly.
float sampleFor(std::uint64_t position) {
    return static_cast<float>(position & 0xFFFFF);
}

// The writer runs until the reader has made its attempts (or a bound is reached), so that both overlap on any
// machine and in any build.
constexpr int readAttempts = 20'000;
constexpr std::uint64_t writeBound = 200'000'000;

TEST(MicrophoneRingStressTests, AReaderNeverAcceptsATornOrStaleSlot) {
    auto slots = std::make_unique<MicrophoneRingSlots>();
    std::atomic<std::uint64_t> written{0};
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (std::uint64_t position = 0; position < writeBound && !stop.load(std::memory_order_relaxed);
             ++position) {
            slots->store(position, sampleFor(position), position * 3);
            written.store(position + 1, std::memory_order_release);
        }
    });
    // Reads start once the writer is a ring ahead.
    while (written.load(std::memory_order_acquire) < 2 * microphoneRingFrameCount) {
        std::this_thread::yield();
    }
    std::uint64_t accepted = 0;
    for (int attempt = 0; attempt < readAttempts; ++attempt) {
        std::uint64_t end = written.load(std::memory_order_acquire);
        // Positions just behind the writer, some of which it is overwriting a ring later.
        for (std::uint64_t back = 1; back <= 64 && back <= end; back += 7) {
            std::uint64_t position = end - back;
            float sample = 0;
            std::uint64_t sourceTime = 0;
            if (slots->load(position, sample, sourceTime)) {
                ASSERT_EQ(sample, sampleFor(position));
                ASSERT_EQ(sourceTime, position * 3);
                ++accepted;
            }
            std::uint64_t lapped =
                position >= microphoneRingFrameCount ? position - microphoneRingFrameCount : 0;
            if (slots->load(lapped, sample, sourceTime)) {
                ASSERT_EQ(sourceTime, lapped * 3) << "a slot rewritten for a later position was accepted";
            }
        }
    }
    stop.store(true);
    writer.join();
    EXPECT_GT(accepted, 0u);
}

TEST(MicrophoneRingStressTests, TheRenderedPairIsNeverReadHalfUpdated) {
    MicrophoneSequencedPair pair;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (std::uint64_t value = 1; value <= writeBound && !stop.load(std::memory_order_relaxed); ++value) {
            pair.write(value, value * 7);
        }
    });
    while (!pair.read() || pair.read()->first == 0) {
        std::this_thread::yield();
    }
    int consistent = 0;
    for (int attempt = 0; attempt < readAttempts; ++attempt) {
        if (auto values = pair.read()) {
            ASSERT_EQ(values->second, values->first * 7);
            ++consistent;
        }
    }
    stop.store(true);
    writer.join();
    EXPECT_GT(consistent, 0);
}

// Packets from one thread, IO cycles on another, and starts and stops of IO with diagnostics reads on a
// third. Right after a start, the queue can only hold frames written since: a packet that straddled the reset
// would leave the write position where the old stream was.
TEST(MicrophoneRingStressTests, StartingIODoesNotInterleaveWithAPacketBeingWritten) {
    MicrophoneDriverHarness harness;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        std::vector<float> samples(480, 0.25f);
        auto packet =
            encodeMicrophonePacket(MicrophonePacketHeader{1, 0, 0, 0, 1440}, std::span<const float>(samples));
        while (!done.load()) {
            ASSERT_EQ(harness.writePacket(packet), 0);
        }
    });
    std::thread reader([&] {
        std::vector<float> output(480);
        MicrophoneIOCycleInfo cycle;
        cycle.outputTime.hostTime = 1'000'000'000;
        cycle.outputTime.flags = MicrophoneTimeStamp::hostTimeValid;
        while (!done.load()) {
            harness.table().doIOOperation(harness.ref, deviceObjectID, inputStreamObjectID, 0,
                                          microphone_io::readInput, 480, &cycle, output.data(), nullptr);
        }
    });
    for (int round = 0; round < 300; ++round) {
        // Let the writer get ahead between rounds.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        std::int64_t writtenBefore = harness.diagnostics().writeFrames;
        ASSERT_EQ(harness.startIO(), 0);
        auto diagnostics = harness.diagnostics();
        std::int64_t writtenAfter = harness.diagnostics().writeFrames;
        ASSERT_LE(diagnostics.queuedFrames, writtenAfter - writtenBefore) << "round " << round;
        ASSERT_EQ(harness.stopIO(), 0);
    }
    done.store(true);
    writer.join();
    reader.join();
}

}  // namespace
}  // namespace quillbridge
