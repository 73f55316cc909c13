#include "microphone_plugin/linux/LinuxMicrophoneDriverHost.hpp"

namespace quillbridge {

MicrophoneStatus LinuxMicrophoneDriverHost::propertiesChanged(
    MicrophoneObjectID objectID, std::span<const MicrophonePropertyAddress> addresses) {
    std::lock_guard lock(mutex_);
    for (const auto& listener : listeners_) {
        listener(objectID, addresses);
    }
    return 0;
}

void LinuxMicrophoneDriverHost::addListener(Listener listener) {
    std::lock_guard lock(mutex_);
    listeners_.push_back(std::move(listener));
}

void LinuxMicrophoneDriverHost::removeListeners() {
    std::lock_guard lock(mutex_);
    listeners_.clear();
}

}  // namespace quillbridge
