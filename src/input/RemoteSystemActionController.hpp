#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/Logger.hpp"
#include "core/SerialQueue.hpp"
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
// desktop service. Called from the session's control context, which it never holds up for long: a click runs
// there at once (the mouse controller belongs to that context, and the click lands where the pointer is now);
// a chord waits for the keyboard's event queue, in line with the headset's key events; media keys and the
// desktop services (lock, volume, mute) go to the controller's own serial `actionQueue` and run there one at
// a time, in the order they were performed, while the caller goes on. A desktop service that answers late
// (the system bus, a sound server being started) therefore delays only the actions queued after it.
//
// The keyboard controller handed to perform() must outlive the controller (queued actions use it); the
// services given at construction too. Destroying the controller drops the actions still queued and waits for
// the one under way.
class RemoteSystemActionController {
public:
    explicit RemoteSystemActionController(SystemServicesPort& services) : services_(services) {}
    ~RemoteSystemActionController() { isClosing_ = true; }
    RemoteSystemActionController(const RemoteSystemActionController&) = delete;
    RemoteSystemActionController& operator=(const RemoteSystemActionController&) = delete;

    static SystemActionPlan plan(RemoteSystemAction action);

    void perform(RemoteSystemAction action, RemoteKeyboardController& keyboard, RemoteMouseController& mouse);

    SerialQueue& actionQueue() { return actionQueue_; }

private:
    // On the action queue: a media key or a desktop service, with its fall-back.
    void performQueued(const SystemActionPlan& actionPlan, RemoteKeyboardController& keyboard);
    void tapMediaKey(RemoteKeyboardController& keyboard, std::int32_t keyType);

    SystemServicesPort& services_;
    Logger logger_{"RemoteSystemActionController"};
    std::atomic<bool> isClosing_{false};
    // Last: destroyed first, so the action under way ends while the fields above exist.
    SerialQueue actionQueue_{"Quillbridge.RemoteSystemActionController"};
};

}  // namespace quillbridge
