#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "session/AudioPCMBuffer.hpp"
#include "session/TimestampedAudioChunk.hpp"

namespace quillbridge {

// Cuts the captured system audio into chunks of exactly `targetFrameCount` frames (512), each stamped with
// the host time of its first frame. The times of the appended buffers carry into the chunks: a chunk that
// starts inside a buffer gets that buffer's time plus the duration of the buffer's frames already cut.
// Gaps and overlaps between buffer times pass into the chunk times unchanged.
//
// Audio in one format is queued until a buffer in another format (sample rate, channel count, sample
// format or interleaving) arrives; that buffer throws the queued audio away. Only non-interleaved 32-bit
// float audio is queued. Not thread-safe: one owner uses it.
class AudioPCMAccumulator {
public:
    // The timing of a run of queued frames that came in one buffer.
    struct QueuedAudioSegment {
        // The time of the segment's first still-queued frame.
        std::uint64_t presentationTimeNanoseconds = 0;
        // How many of the buffer's frames are still queued.
        std::size_t frameCount = 0;

        bool operator==(const QueuedAudioSegment&) const = default;
    };

    static constexpr std::size_t defaultTargetFrameCount = 512;

    // A target of 0 frames is taken as 1.
    explicit AudioPCMAccumulator(std::size_t targetFrameCount = defaultTargetFrameCount);

    // Queues the buffer, whose first frame has the host time `presentationTimeNanoseconds`, and returns the
    // chunks that became complete, oldest first (possibly none). Frames left over wait for the next append.
    // A buffer without usable float data (another sample format, interleaved, no channels, channels shorter
    // than its frame length, or a sample rate that is not positive and finite) resets the accumulator and
    // gives no chunk.
    std::vector<TimestampedAudioChunk> append(const AudioPCMBuffer& buffer,
                                              std::uint64_t presentationTimeNanoseconds);

    // Forgets the format, the queued samples and their segments.
    void reset();

    std::size_t targetFrameCount() const { return targetFrameCount_; }
    const std::optional<AudioPCMFormat>& currentFormat() const { return currentFormat_; }
    std::size_t queuedFrameCount() const { return queuedFrameCount_; }
    // Oldest first; their frame counts add up to queuedFrameCount().
    const std::vector<QueuedAudioSegment>& queuedSegments() const { return queuedSegments_; }

private:
    void adoptFormat(const AudioPCMFormat& format);
    TimestampedAudioChunk cutChunk(std::size_t firstFrame);
    void consumeSegmentFrames(std::size_t frameCount);

    std::size_t targetFrameCount_;
    std::optional<AudioPCMFormat> currentFormat_;
    // One sample array per channel of the current format, each holding queuedFrameCount_ samples.
    std::vector<std::vector<float>> channelStorage_;
    std::size_t queuedFrameCount_ = 0;
    std::vector<QueuedAudioSegment> queuedSegments_;
};

}  // namespace quillbridge
