#pragma once

#include <memory>

namespace quillbridge {

// A top-level window of the host as the activation controller fronts it. The window system's object stays
// with its owner: the controller holds these weakly and never keeps a window alive.
class HostWindow {
public:
    virtual ~HostWindow() = default;

    virtual bool isMiniaturized() const = 0;
    virtual void deminiaturize() = 0;
    // Shows the window above the others and gives it the keyboard focus.
    virtual void makeKeyAndOrderFront() = 0;
};

// A weak reference to a window: empty once the window is gone.
struct WeakWindow {
    std::weak_ptr<HostWindow> value;
};

}  // namespace quillbridge
