#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "microphone_plugin/MicrophoneSequencedPair.hpp"

namespace quillbridge {

inline constexpr std::uint64_t microphoneRingFrameCount = 16384;
inline constexpr std::uint32_t microphoneMinimumTargetFrames = 1440;
inline constexpr std::uint32_t microphoneMaximumTargetFrames = 5760;
inline constexpr std::uint64_t microphoneFramesPerSecond = 48000;
inline constexpr std::uint64_t nanosecondsPerSecond = 1'000'000'000;

// The ring's 16384 slots. Each slot holds one frame: its sample, its source time and a sequence word that
// says which position the slot holds: 2p + 1 while the writer fills it for position p, 2p + 2 once it holds
// that frame. The words form a sequence lock per slot, so a reader tells a complete frame of the position
// it wants from a stale or half-written one; every field is an atomic, so nothing is torn or undefined.
class MicrophoneRingSlots {
public:
    // One writer at a time.
    void store(std::uint64_t position, float sample, std::uint64_t sourceTimeNanoseconds) {
        std::size_t index = position & mask;
        sequences_[index].store(2 * position + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        samples_[index].store(sample, std::memory_order_relaxed);
        sourceTimes_[index].store(sourceTimeNanoseconds, std::memory_order_relaxed);
        sequences_[index].store(2 * position + 2, std::memory_order_release);
    }

    // The frame of that position if the slot holds it, complete, before and after the read.
    bool load(std::uint64_t position, float& sample, std::uint64_t& sourceTimeNanoseconds) const {
        std::size_t index = position & mask;
        std::uint64_t expected = 2 * position + 2;
        if (sequences_[index].load(std::memory_order_acquire) != expected) {
            return false;
        }
        float value = samples_[index].load(std::memory_order_relaxed);
        std::uint64_t time = sourceTimes_[index].load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequences_[index].load(std::memory_order_relaxed) != expected) {
            return false;
        }
        sample = value;
        sourceTimeNanoseconds = time;
        return true;
    }

    bool loadSample(std::uint64_t position, float& sample) const {
        std::uint64_t unused = 0;
        return load(position, sample, unused);
    }

private:
    static constexpr std::uint64_t mask = microphoneRingFrameCount - 1;
    static_assert((microphoneRingFrameCount & mask) == 0);
    static_assert(std::atomic<float>::is_always_lock_free && std::atomic<std::uint64_t>::is_always_lock_free);

    std::array<std::atomic<std::uint64_t>, microphoneRingFrameCount> sequences_{};
    std::array<std::atomic<float>, microphoneRingFrameCount> samples_{};
    std::array<std::atomic<std::uint64_t>, microphoneRingFrameCount> sourceTimes_{};
};

// What the packet writer, the IO reader, the diagnostics and the start of IO share. Every field is an atomic
// with one writing side: positions and counters are read lock-free from the other threads. The start of IO
// resets the shared part here (excluding the writer through the driver's state lock) and asks the reader to
// reset its own state at its next cycle, so that no field has two writers racing.
struct MicrophoneAudioState {
    MicrophoneRingSlots slots;

    // Written by the packet writer.
    std::atomic<std::uint64_t> writePosition{0};
    std::atomic<std::uint64_t> writeFrames{0};
    std::atomic<std::uint64_t> overflowCount{0};
    std::atomic<std::uint32_t> targetBufferFrames{microphoneMinimumTargetFrames};
    // Counts the streams the writer started (0: none yet); the reader follows it.
    std::atomic<std::uint64_t> streamSerial{0};
    std::atomic<std::int64_t> streamStartHostTimeNanoseconds{0};

    // Written by the reader.
    std::atomic<std::uint64_t> publishedReadPosition{0};
    std::atomic<std::uint64_t> readFrames{0};
    std::atomic<std::uint64_t> underflowCount{0};
    // (rendered source time, render host time), both nanoseconds.
    MicrophoneSequencedPair renderedTimes;

    // Resets asked for by the start of IO, and the last one the reader carried out.
    std::atomic<std::uint64_t> resetGeneration{0};
    std::atomic<std::uint64_t> readerResetGeneration{0};

    // The start of IO: positions, counters and target back to their start. The caller excludes the writer.
    void resetForStartIO() {
        writePosition.store(0, std::memory_order_release);
        publishedReadPosition.store(0, std::memory_order_release);
        underflowCount.store(0, std::memory_order_relaxed);
        overflowCount.store(0, std::memory_order_relaxed);
        targetBufferFrames.store(microphoneMinimumTargetFrames, std::memory_order_relaxed);
        resetGeneration.fetch_add(1, std::memory_order_acq_rel);
    }
};

}  // namespace quillbridge
