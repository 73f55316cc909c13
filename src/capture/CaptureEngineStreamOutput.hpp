#pragma once

#include <memory>

#include "capture/CaptureStreamOutput.hpp"
#include "capture/SynchronizedHandler.hpp"

namespace quillbridge {

// The output object of one capture stream of the engine: forwards valid samples to its handlers and reports
// a stream that stopped on its own. The engine clears the handlers when it detaches the stream, so nothing
// the stream still delivers afterwards reaches anyone.
class CaptureEngineStreamOutput final : public CaptureStreamOutput {
public:
    SynchronizedHandler<void(std::shared_ptr<const AudioPCMBuffer>)> pcmBufferHandler;
    SynchronizedHandler<void(std::shared_ptr<const CapturedVideoFrame>)> screenFrameHandler;
    SynchronizedHandler<void(const CaptureStreamFailure&)> streamStoppedHandler;

    void captureStreamDidOutputVideoFrame(std::shared_ptr<const CapturedVideoFrame> frame) override;
    void captureStreamDidOutputAudioBuffer(std::shared_ptr<AudioPCMBuffer> buffer) override;
    void captureStreamDidStop(const CaptureStreamFailure& failure) override;

    // A buffer the session can use: planar 32-bit float with one full channel array per channel.
    static bool isUsableAudioBuffer(const AudioPCMBuffer& buffer);
};

}  // namespace quillbridge
