#pragma once

#include <memory>

#include "capture/CaptureStream.hpp"
#include "capture/CaptureStreamOutput.hpp"
#include "platform/linux/pulse/PulseSystemAudioSource.hpp"
#include "platform/linux/x11/XcbScreenCaptureStream.hpp"

namespace quillbridge {

// One capture stream of the host on Linux: the X11 screen stream, plus the sound server's system audio when
// the configuration asks for audio. Audio is best effort: without a sound server the stream runs with video
// only (the reason is logged), and a failing sound server never stops the stream.
class LinuxCaptureStream final : public CaptureStream {
public:
    LinuxCaptureStream(XcbScreenCaptureStream::Options screenOptions, CaptureContentFilter filter,
                       CaptureStreamConfiguration configuration, std::shared_ptr<CaptureStreamOutput> output);
    ~LinuxCaptureStream() override;

    std::expected<void, CaptureStreamFailure> addStreamOutput(CaptureStreamOutputType type) override;
    asio::awaitable<void> startCapture() override;
    asio::awaitable<void> stopCapture() override;
    asio::awaitable<void> updateConfiguration(const CaptureStreamConfiguration& configuration) override;
    asio::awaitable<void> updateContentFilter(const CaptureContentFilter& filter) override;

    bool isCapturingAudio() const { return audio_ != nullptr; }

private:
    void startAudio();
    void stopAudio();

    CaptureStreamConfiguration configuration_;
    std::shared_ptr<CaptureStreamOutput> output_;
    XcbScreenCaptureStream screen_;
    bool deliversAudio_ = false;
    bool isRunning_ = false;
    std::unique_ptr<PulseSystemAudioSource> audio_;
};

}  // namespace quillbridge
