#pragma once

#include <cstdint>
#include <expected>
#include <functional>

#include "bridge/VirtualMicrophoneDeviceError.hpp"
#include "core/Bytes.hpp"

namespace quillbridge {

// The host's virtual microphone that applications on the host read the headset's voice from. Publication,
// audio and the timeline counter are touched only from the caller's one control queue; the demand handler may
// be replaced from any thread.
class VirtualMicrophoneDevice {
public:
    virtual ~VirtualMicrophoneDevice() = default;

    // Makes the microphone appear to applications and starts following their demand.
    virtual std::expected<void, VirtualMicrophoneDeviceError> publish() = 0;
    // Withdraws the microphone, stops following demand and reports demand off. Harmless when not published.
    virtual void stop() = 0;

    // Whether an application's renderer reads the device now; audio is submitted only then.
    virtual bool rendererIsRunning() const = 0;
    // Counts the audio timelines: a new timeline makes the reader drop what it buffered.
    virtual std::uint64_t halAudioGeneration() const = 0;
    virtual void setHalAudioGeneration(std::uint64_t generation) = 0;
    // One packet of mono 32-bit float samples at 48,000 Hz (`frameCount` samples in `samples`).
    virtual void submitAudio(std::uint64_t captureTimeNanoseconds, std::int64_t targetHostTimeNanoseconds,
                             std::int64_t targetBufferFrameCount, std::int64_t frameCount,
                             const Bytes& samples) = 0;

    // Called, from the device's own threads, when applications start or stop reading. Replaces the previous
    // handler under the device's own lock; empty removes it.
    virtual void setDemandChangedHandler(std::function<void(bool)> handler) = 0;
};

}  // namespace quillbridge
