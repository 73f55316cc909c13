#pragma once

namespace quillbridge {

// Regular: with a dock icon and a menu bar of its own; accessory: neither, the tray item only.
enum class ActivationPolicy { regular, accessory };

// The application-wide side of activation: its policy and bringing the application to the foreground.
class ApplicationActivation {
public:
    virtual ~ApplicationActivation() = default;

    // False when the window system refuses the change.
    virtual bool setActivationPolicy(ActivationPolicy policy) = 0;
    virtual void activateIgnoringOtherApps() = 0;
};

// X11 has neither: a program has no dock icon or menu bar to switch, and it comes forward window by window
// (the window manager activates the window that is fronted). Every change is accepted and nothing happens.
class LinuxApplicationActivation final : public ApplicationActivation {
public:
    bool setActivationPolicy(ActivationPolicy) override { return true; }
    void activateIgnoringOtherApps() override {}
};

}  // namespace quillbridge
