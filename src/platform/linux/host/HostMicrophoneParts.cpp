#include "platform/linux/host/HostMicrophoneParts.hpp"

#include "bridge/AudioObjectVirtualMicrophoneDevice.hpp"
#include "capture/ScreenRecorder.hpp"
#include "platform/linux/microphone/PropertyChannelMicrophoneAudioObjectSystem.hpp"

namespace quillbridge {

HostMicrophoneParts::HostMicrophoneParts(const asio::any_io_executor& executor,
                                         const std::shared_ptr<PersonaAVTimingCoordinator>& timingCoordinator,
                                         const std::shared_ptr<Clock>& clock) {
    // Without $XDG_RUNTIME_DIR no program can be reached: publishing then reports the plug-in as missing.
    auto socketPath = PropertyChannelMicrophoneAudioObjectSystem::defaultSocketPath().value_or("");
    device_ = std::make_shared<AudioObjectVirtualMicrophoneDevice>(
        std::make_shared<PropertyChannelMicrophoneAudioObjectSystem>(socketPath), timingCoordinator, clock);
    receiver_ = std::make_shared<ClockedVisionMicrophoneReceiver>(
        executor, timingCoordinator,
        [link = link_](const MicrophoneFormatMessage& format, std::uint64_t captureTimeNanoseconds,
                       std::int64_t targetHostTimeNanoseconds, std::int64_t targetBufferFrameCount,
                       bool startsNewTimeline, std::int64_t frameCount, const Bytes& payload) {
            std::shared_ptr<ScreenRecorder> recorder;
            {
                std::lock_guard lock(link->mutex);
                recorder = link->recorder.lock();
            }
            if (!recorder) {
                return false;
            }
            return recorder->enqueueMicrophonePacket(
                VirtualMicrophonePacket{format, captureTimeNanoseconds, targetHostTimeNanoseconds,
                                        targetBufferFrameCount, startsNewTimeline, frameCount, payload});
        });
}

void HostMicrophoneParts::attachRecorder(const std::shared_ptr<ScreenRecorder>& recorder) {
    std::lock_guard lock(link_->mutex);
    link_->recorder = recorder;
}

}  // namespace quillbridge
