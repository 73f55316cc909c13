#pragma once

#include <memory>

#include "capture/CaptureStreamFailure.hpp"
#include "session/AudioPCMBuffer.hpp"
#include "session/CapturedVideoFrame.hpp"

namespace quillbridge {

// What a capture stream delivers to. The stream calls the sample methods on its own threads, one serial
// thread per output type (screen, audio); they must return at once. captureStreamDidStop is called at most
// once, when the stream stopped on its own (not after a stop it was asked for), from any thread.
class CaptureStreamOutput {
public:
    virtual ~CaptureStreamOutput() = default;

    // A frame, by reference: its pixels are not copied.
    virtual void captureStreamDidOutputVideoFrame(std::shared_ptr<const CapturedVideoFrame> frame) = 0;
    // A buffer of system audio that the stream owns no longer: planar 32-bit float at the configured rate.
    virtual void captureStreamDidOutputAudioBuffer(std::shared_ptr<AudioPCMBuffer> buffer) = 0;
    virtual void captureStreamDidStop(const CaptureStreamFailure& failure) = 0;
};

}  // namespace quillbridge
