#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "microphone_plugin/MicrophoneDriverTypes.hpp"

namespace quillbridge {

// What this program, as the driver's server, offers it: announcements go to every listener (the property
// channel and the PipeWire node), in order, on the announcing thread. Nothing is stored for the driver.
class LinuxMicrophoneDriverHost final : public MicrophoneDriverHost {
public:
    using Listener = std::function<void(MicrophoneObjectID, std::span<const MicrophonePropertyAddress>)>;

    MicrophoneStatus propertiesChanged(MicrophoneObjectID objectID,
                                       std::span<const MicrophonePropertyAddress> addresses) override;
    std::optional<std::string> copyFromStorage(std::string_view key) override { return std::nullopt; }

    void addListener(Listener listener);
    // Removes every listener; an announcement under way finishes first.
    void removeListeners();

private:
    std::mutex mutex_;
    std::vector<Listener> listeners_;
};

}  // namespace quillbridge
