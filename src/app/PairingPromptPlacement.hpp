#pragma once

#include <functional>

namespace quillbridge {

// Where the pairing prompt is shown, as the menu window reads it from the pairing prompt presenter: inline in
// the menu, or in the detached window.
class PairingPromptPlacement {
public:
    virtual ~PairingPromptPlacement() = default;

    // Called with no argument after each change of isPairingPromptInWindow().
    virtual void addObserver(std::function<void()> observer) = 0;

    virtual bool isPairingPromptInWindow() const = 0;
    virtual void setPairingPromptInWindow(bool inWindow) = 0;
    // Whether the detached window exists.
    virtual bool hasPairingPromptWindow() const = 0;
    // Closes the detached window; the presenter's own closing steps follow.
    virtual void closePairingPromptWindow() = 0;
};

// No detached window: the prompt is always shown in the menu.
class InlinePairingPromptPlacement final : public PairingPromptPlacement {
public:
    void addObserver(std::function<void()>) override {}
    bool isPairingPromptInWindow() const override { return false; }
    void setPairingPromptInWindow(bool) override {}
    bool hasPairingPromptWindow() const override { return false; }
    void closePairingPromptWindow() override {}
};

}  // namespace quillbridge
