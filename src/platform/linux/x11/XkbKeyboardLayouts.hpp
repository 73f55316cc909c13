#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "input/KeyboardInputSourcePort.hpp"
#include "input/KeyboardLayoutPort.hpp"
#include "platform/linux/x11/XcbConnection.hpp"
#include "platform/linux/x11/XkbKeyboard.hpp"

struct rxkb_context;

namespace quillbridge {

// The X server's keyboard layouts as input sources: each XKB group is one source, named "xkb:<layout>" or
// "xkb:<layout>:<variant>", with the name and languages the XKB registry gives it (two-letter language
// codes where one exists). Selecting a source locks its group. Caps Lock acts as the language switch when
// an XKB option "grp:caps_..." is set. The layout probe reads labels from the keymap with xkbcommon: Shift,
// Caps Lock, and the third level (AltGr) for option. Thread-safe.
class XkbKeyboardLayouts final : public KeyboardLayoutPort, public KeyboardInputSourcePort {
public:
    // Nothing when the display cannot be reached or has no XKB.
    static std::unique_ptr<XkbKeyboardLayouts> open(const std::string& displayName = {});
    ~XkbKeyboardLayouts() override;

    std::unique_ptr<KeyboardLayout> currentLayout() override;
    MacKeyboardInputSourceIdentity currentLayoutIdentity() override;
    std::uint32_t hardwareKeyboardType() override;
    RemoteKeyboardPhysicalLayout physicalLayout(std::uint32_t keyboardType) override;

    bool capsLockSwitchesInputSource() override;
    std::optional<KeyboardInputSource> currentKeyboardInputSource() override;
    std::vector<KeyboardInputSource> enabledInputSources() override;
    std::optional<KeyboardInputSource> currentASCIICapableKeyboardInputSource() override;
    int selectInputSource(const std::string& inputSourceID) override;

    // The identity of every group, in group order.
    std::vector<MacKeyboardInputSourceIdentity> identities();

private:
    struct Group {
        MacKeyboardInputSourceIdentity identity;
        KeyboardInputSource source;
    };
    XkbKeyboardLayouts(std::unique_ptr<XcbConnection> connection, std::unique_ptr<XkbKeyboard> keyboard);

    std::vector<Group> groups(const XkbKeymapPointer& keymap);
    std::uint32_t currentGroup();
    MacKeyboardInputSourceIdentity describe(const std::string& layout, const std::string& variant);

    std::unique_ptr<XcbConnection> connection_;
    std::unique_ptr<XkbKeyboard> keyboard_;
    std::mutex mutex_;
    rxkb_context* registry_ = nullptr;
    bool registryTried_ = false;
};

}  // namespace quillbridge
