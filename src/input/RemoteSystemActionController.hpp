#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/Logger.hpp"
#include "input/RemoteKeyboardController.hpp"
#include "input/RemoteMouseController.hpp"
#include "input/SystemServicesPort.hpp"
#include "wire/MouseButton.hpp"
#include "wire/RemoteKeyboardKey.hpp"
#include "wire/RemoteSystemAction.hpp"

namespace quillbridge {

// How one system action is carried out.
struct SystemActionPlan {
    enum class Kind { nothing, chord, click, mediaKey, lockScreen, volumeUp, volumeDown, mute, unsupported };

    Kind kind = Kind::nothing;
    std::vector<RemoteKeyboardKey> chord;
    MouseButton button = MouseButton::primary;
    // The media key, also the fall-back of the volume and mute plans.
    std::int32_t mediaKeyType = 0;

    bool operator==(const SystemActionPlan&) const = default;
};

// Carries out the headset's one-tap system actions with a key chord, a mouse click, a media key or a
// desktop service. Runs in the session's control context; chords wait for the keyboard's event queue.
class RemoteSystemActionController {
public:
    explicit RemoteSystemActionController(SystemServicesPort& services) : services_(services) {}

    static SystemActionPlan plan(RemoteSystemAction action);

    void perform(RemoteSystemAction action, RemoteKeyboardController& keyboard, RemoteMouseController& mouse);

private:
    void tapMediaKey(RemoteKeyboardController& keyboard, std::int32_t keyType);

    SystemServicesPort& services_;
    Logger logger_{"RemoteSystemActionController"};
};

}  // namespace quillbridge
