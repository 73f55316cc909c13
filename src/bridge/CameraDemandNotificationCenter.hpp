#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace quillbridge {

// The camera program's notifications (demand started, demand stopped, demand query), delivered at once.
class CameraDemandNotificationCenter {
public:
    // Called on a platform thread with the notification's name.
    using Observer = std::function<void(std::string name)>;

    virtual ~CameraDemandNotificationCenter() = default;

    virtual void post(std::string_view name) = 0;
    // Replaces the observer of the demand notifications; empty removes it (no call starts after that
    // returns).
    virtual void setObserver(Observer observer) = 0;
};

}  // namespace quillbridge
