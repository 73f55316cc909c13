#include "microphone_plugin/MicrophonePacketWriter.hpp"

#include <algorithm>

namespace quillbridge {

void MicrophonePacketWriter::write(const microphone::MicrophonePacketHeader& header,
                                   std::span<const std::uint8_t> sampleBytes) {
    state_.targetBufferFrames.store(std::clamp(header.targetBufferFrameCount, microphoneMinimumTargetFrames,
                                               microphoneMaximumTargetFrames),
                                    std::memory_order_relaxed);

    std::uint64_t writePosition = state_.writePosition.load(std::memory_order_relaxed);
    if (streamIdentifier_ != header.streamIdentifier) {
        // A new stream starts at position 0; its start time is taken only here. The position is published
        // before the stream, so a reader that sees the new stream sees its positions.
        writePosition = 0;
        state_.writePosition.store(0, std::memory_order_release);
        state_.streamStartHostTimeNanoseconds.store(header.startHostTimeNanoseconds,
                                                    std::memory_order_relaxed);
        streamIdentifier_ = header.streamIdentifier;
        state_.streamSerial.fetch_add(1, std::memory_order_acq_rel);
    }

    // Only the last ring's worth of an oversized packet is kept.
    std::uint64_t frameCount = header.frameCount;
    std::uint64_t skip = frameCount > microphoneRingFrameCount ? frameCount - microphoneRingFrameCount : 0;
    std::uint64_t written = frameCount - skip;
    for (std::uint64_t index = 0; index < written; ++index) {
        std::uint64_t frame = skip + index;
        float sample = microphone::loadLittleEndianFloat(sampleBytes.data() + frame * 4);
        std::uint64_t sourceTime =
            header.sourceTimeNanoseconds + frame * nanosecondsPerSecond / microphoneFramesPerSecond;
        state_.slots.store(writePosition + index, sample, sourceTime);
    }

    if (state_.publishedReadPosition.load(std::memory_order_acquire) + microphoneRingFrameCount <
        writePosition + written) {
        state_.overflowCount.fetch_add(1, std::memory_order_relaxed);
    }
    state_.writePosition.store(writePosition + written, std::memory_order_release);
    state_.writeFrames.fetch_add(written, std::memory_order_relaxed);
}

}  // namespace quillbridge
