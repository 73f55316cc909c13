#pragma once

#include <memory>
#include <mutex>

#include <asio/any_io_executor.hpp>

#include "bridge/ClockedVisionMicrophoneReceiver.hpp"
#include "bridge/PersonaAVTimingCoordinator.hpp"
#include "bridge/VirtualMicrophoneDevice.hpp"
#include "core/Clock.hpp"

namespace quillbridge {

class ScreenRecorder;

// The host's half of the virtual microphone: the receiver of the headset's microphone chunks (on its own
// strand of the executor) and the device reached through the microphone program's property channel. The
// receiver's chunks go to the recorder's microphone mailbox once the recorder is attached; before that, and
// after the recorder is gone, they are refused.
class HostMicrophoneParts {
public:
    HostMicrophoneParts(const asio::any_io_executor& executor,
                        const std::shared_ptr<PersonaAVTimingCoordinator>& timingCoordinator,
                        const std::shared_ptr<Clock>& clock);

    const std::shared_ptr<ClockedVisionMicrophoneReceiver>& receiver() const { return receiver_; }
    const std::shared_ptr<VirtualMicrophoneDevice>& device() const { return device_; }
    void attachRecorder(const std::shared_ptr<ScreenRecorder>& recorder);

private:
    struct RecorderLink {
        std::mutex mutex;
        std::weak_ptr<ScreenRecorder> recorder;
    };

    std::shared_ptr<RecorderLink> link_ = std::make_shared<RecorderLink>();
    std::shared_ptr<ClockedVisionMicrophoneReceiver> receiver_;
    std::shared_ptr<VirtualMicrophoneDevice> device_;
};

}  // namespace quillbridge
