#include "platform/linux/capture/LinuxCaptureStream.hpp"

#include <utility>

namespace quillbridge {

LinuxCaptureStream::LinuxCaptureStream(XcbScreenCaptureStream::Options screenOptions,
                                       CaptureContentFilter filter, CaptureStreamConfiguration configuration,
                                       std::shared_ptr<CaptureStreamOutput> output)
    : configuration_(configuration),
      output_(output),
      screen_(std::move(screenOptions), std::move(filter), configuration, std::move(output)) {}

LinuxCaptureStream::~LinuxCaptureStream() {
    stopAudio();
    screen_.stop();
}

std::expected<void, CaptureStreamFailure> LinuxCaptureStream::addStreamOutput(CaptureStreamOutputType type) {
    if (type == CaptureStreamOutputType::audio) {
        deliversAudio_ = true;
        return {};
    }
    return screen_.addStreamOutput(type);
}

asio::awaitable<void> LinuxCaptureStream::startCapture() {
    screen_.start();
    isRunning_ = true;
    if (deliversAudio_ && configuration_.capturesAudio) {
        startAudio();
    }
    co_return;
}

asio::awaitable<void> LinuxCaptureStream::stopCapture() {
    isRunning_ = false;
    stopAudio();
    screen_.stop();
    co_return;
}

asio::awaitable<void> LinuxCaptureStream::updateConfiguration(
    const CaptureStreamConfiguration& configuration) {
    co_await screen_.updateConfiguration(configuration);
    const bool audioFormatChanged = configuration.sampleRate != configuration_.sampleRate ||
                                    configuration.channelCount != configuration_.channelCount;
    configuration_ = configuration;
    if (!isRunning_) {
        co_return;
    }
    const bool wantsAudio = deliversAudio_ && configuration.capturesAudio;
    if (!wantsAudio || audioFormatChanged) {
        stopAudio();
    }
    if (wantsAudio && !audio_) {
        startAudio();
    }
}

asio::awaitable<void> LinuxCaptureStream::updateContentFilter(const CaptureContentFilter& filter) {
    co_await screen_.updateContentFilter(filter);
}

void LinuxCaptureStream::startAudio() {
    PulseSystemAudioSource::Options options;
    options.sampleRate =
        static_cast<std::uint32_t>(configuration_.sampleRate > 0 ? configuration_.sampleRate : 48000);
    options.channelCount =
        static_cast<std::uint8_t>(configuration_.channelCount > 0 ? configuration_.channelCount : 2);
    auto audio = std::make_unique<PulseSystemAudioSource>(options, output_);
    if (audio->start()) {
        audio_ = std::move(audio);
    }
}

void LinuxCaptureStream::stopAudio() {
    if (audio_) {
        audio_->stop();
        audio_.reset();
    }
}

}  // namespace quillbridge
