#include "capture/CaptureEngineStreamOutput.hpp"

#include <utility>

namespace quillbridge {

void CaptureEngineStreamOutput::captureStreamDidOutputVideoFrame(
    std::shared_ptr<const CapturedVideoFrame> frame) {
    if (!frame) {
        return;
    }
    screenFrameHandler(std::move(frame));
}

void CaptureEngineStreamOutput::captureStreamDidOutputAudioBuffer(std::shared_ptr<AudioPCMBuffer> buffer) {
    if (!buffer || !isUsableAudioBuffer(*buffer)) {
        return;
    }
    pcmBufferHandler(std::shared_ptr<const AudioPCMBuffer>(std::move(buffer)));
}

void CaptureEngineStreamOutput::captureStreamDidStop(const CaptureStreamFailure& failure) {
    streamStoppedHandler(failure);
}

bool CaptureEngineStreamOutput::isUsableAudioBuffer(const AudioPCMBuffer& buffer) {
    if (!buffer.hasFloatChannelData() || buffer.format.channelCount == 0 || buffer.format.sampleRate <= 0) {
        return false;
    }
    for (const auto& channel : buffer.floatChannels) {
        if (channel.size() < buffer.frameLength) {
            return false;
        }
    }
    return true;
}

}  // namespace quillbridge
