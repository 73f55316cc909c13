#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "input/KeyboardEventPoster.hpp"
#include "input/MouseEventPoster.hpp"
#include "input/SyntheticInputPermission.hpp"

namespace quillbridge {

// A posted text chunk.
struct RecordedText {
    std::u16string chunk;
    std::uint32_t keyboardType = 0;
    bool operator==(const RecordedText&) const = default;
};

// A posted media key.
struct RecordedMediaKey {
    std::int32_t keyType = 0;
    bool isDown = false;
    bool operator==(const RecordedMediaKey&) const = default;
};

using RecordedInputEvent = std::variant<SyntheticMouseEvent, SyntheticScrollEvent, SyntheticKeyEvent,
                                        RecordedText, RecordedMediaKey>;

// Records every synthetic event instead of posting it; the cursor follows posted mouse events. Switches make
// the permission refuse (`allowed`, `allowedAfterRequest`) or event creation fail (`fail...`). Thread-safe:
// the keyboard posts from its own queue.
class RecordingInputPoster final : public MouseEventPoster,
                                   public KeyboardEventPoster,
                                   public SyntheticInputPermission {
public:
    // Permission.
    bool allowed = true;
    bool allowedAfterRequest = false;
    int accessRequests = 0;
    // Mouse.
    std::optional<DisplayPoint> cursor = DisplayPoint{};
    double doubleClickInterval = 0.5;
    bool failMouseEvents = false;
    bool failScrollEvents = false;
    // Keyboard.
    bool failKeyEvents = false;
    bool failTextChunks = false;
    bool failMediaKeys = false;
    bool repeatsHeldKeys = false;
    std::optional<RemoteKeyboardKey> missingKey;
    std::uint32_t keyboardType = 0;

    bool isSyntheticInputAllowed() override {
        std::lock_guard lock(mutex_);
        return allowed;
    }
    void requestSyntheticInputAccess() override {
        std::lock_guard lock(mutex_);
        ++accessRequests;
        if (allowedAfterRequest)
            allowed = true;
    }

    std::optional<DisplayPoint> cursorLocation() override {
        std::lock_guard lock(mutex_);
        return cursor;
    }
    double doubleClickIntervalSeconds() override { return doubleClickInterval; }
    bool postMouseEvent(const SyntheticMouseEvent& event) override {
        std::lock_guard lock(mutex_);
        if (failMouseEvents)
            return false;
        events_.push_back(event);
        cursor = event.location;
        return true;
    }
    bool postScrollEvent(const SyntheticScrollEvent& event) override {
        std::lock_guard lock(mutex_);
        if (failScrollEvents)
            return false;
        events_.push_back(event);
        return true;
    }

    bool postKeyEvent(const SyntheticKeyEvent& event) override {
        std::lock_guard lock(mutex_);
        if (failKeyEvents)
            return false;
        events_.push_back(event);
        return true;
    }
    bool postText(std::u16string_view chunk, std::uint32_t type) override {
        std::lock_guard lock(mutex_);
        if (failTextChunks)
            return false;
        events_.push_back(RecordedText{std::u16string(chunk), type});
        return true;
    }
    bool postMediaKey(std::int32_t keyType, bool isDown) override {
        std::lock_guard lock(mutex_);
        if (failMediaKeys)
            return false;
        events_.push_back(RecordedMediaKey{keyType, isDown});
        return true;
    }
    bool hasKey(RemoteKeyboardKey key) override { return key != missingKey; }
    bool desktopRepeatsHeldKeys() override { return repeatsHeldKeys; }
    std::uint32_t hardwareKeyboardType() override { return keyboardType; }

    std::vector<RecordedInputEvent> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    template <class T>
    std::vector<T> eventsOf() const {
        std::lock_guard lock(mutex_);
        std::vector<T> result;
        for (const RecordedInputEvent& event : events_) {
            if (const T* typed = std::get_if<T>(&event))
                result.push_back(*typed);
        }
        return result;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<RecordedInputEvent> events_;
};

}  // namespace quillbridge
