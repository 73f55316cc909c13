#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "microphone_plugin/MicrophoneDriverTypes.hpp"

namespace quillbridge {

// The server side of the driver for tests: records every property-change announcement and answers storage
// look-ups with one configured text.
class RecordingMicrophoneHost final : public MicrophoneDriverHost {
public:
    struct Announcement {
        MicrophoneObjectID objectID = 0;
        std::vector<MicrophonePropertyAddress> addresses;

        bool operator==(const Announcement&) const = default;
    };

    explicit RecordingMicrophoneHost(std::optional<std::string> storedBoxName = std::nullopt)
        : storedBoxName_(std::move(storedBoxName)) {}

    MicrophoneStatus propertiesChanged(MicrophoneObjectID objectID,
                                       std::span<const MicrophonePropertyAddress> addresses) override {
        std::function<void()> hook;
        {
            std::lock_guard lock(mutex_);
            announcements_.push_back({objectID, {addresses.begin(), addresses.end()}});
            hook = onAnnouncement_;
        }
        if (hook) {
            hook();
        }
        return 0;
    }

    // Runs on the announcing thread at every announcement.
    void setOnAnnouncement(std::function<void()> hook) {
        std::lock_guard lock(mutex_);
        onAnnouncement_ = std::move(hook);
    }

    std::optional<std::string> copyFromStorage(std::string_view key) override {
        std::lock_guard lock(mutex_);
        storageKeys_.emplace_back(key);
        return storedBoxName_;
    }

    // Everything announced so far, which is then forgotten.
    std::vector<Announcement> takeAnnouncements() {
        std::lock_guard lock(mutex_);
        return std::exchange(announcements_, {});
    }
    std::vector<std::string> storageKeys() const {
        std::lock_guard lock(mutex_);
        return storageKeys_;
    }

private:
    mutable std::mutex mutex_;
    std::optional<std::string> storedBoxName_;
    std::vector<Announcement> announcements_;
    std::vector<std::string> storageKeys_;
    std::function<void()> onAnnouncement_;
};

}  // namespace quillbridge
