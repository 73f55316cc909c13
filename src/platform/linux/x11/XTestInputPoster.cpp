#include "platform/linux/x11/XTestInputPoster.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include <xcb/xtest.h>

#include "input/MediaKeyType.hpp"
#include "platform/linux/x11/X11KeyCodes.hpp"

namespace quillbridge {

namespace {

std::uint8_t xButton(std::int64_t buttonNumber) {
    switch (buttonNumber) {
        case 0:
            return 1;
        case 1:
            return 3;
        case 2:
            return 2;
        case 3:
            return 8;
        case 4:
            return 9;
        default:
            return static_cast<std::uint8_t>(std::clamp<std::int64_t>(buttonNumber + 5, 10, 255));
    }
}

bool isMoveEvent(SyntheticMouseEventType type) {
    using enum SyntheticMouseEventType;
    return type == mouseMoved || type == leftMouseDragged || type == rightMouseDragged ||
           type == otherMouseDragged;
}

bool isPressEvent(SyntheticMouseEventType type) {
    using enum SyntheticMouseEventType;
    return type == leftMouseDown || type == rightMouseDown || type == otherMouseDown;
}

std::int16_t toCoordinate(double value) {
    if (std::isnan(value))
        return 0;
    return static_cast<std::int16_t>(std::clamp(std::round(value), -32768.0, 32767.0));
}

std::optional<xkb_keysym_t> mediaKeysym(std::int32_t keyType) {
    switch (keyType) {
        case MediaKeyType::soundUp:
            return XKB_KEY_XF86AudioRaiseVolume;
        case MediaKeyType::soundDown:
            return XKB_KEY_XF86AudioLowerVolume;
        case MediaKeyType::brightnessUp:
            return XKB_KEY_XF86MonBrightnessUp;
        case MediaKeyType::brightnessDown:
            return XKB_KEY_XF86MonBrightnessDown;
        case MediaKeyType::mute:
            return XKB_KEY_XF86AudioMute;
        case MediaKeyType::launchPanel:
            return XKB_KEY_XF86LaunchB;
        case MediaKeyType::play:
            return XKB_KEY_XF86AudioPlay;
        case MediaKeyType::next:
            return XKB_KEY_XF86AudioNext;
        case MediaKeyType::previous:
            return XKB_KEY_XF86AudioPrev;
        case MediaKeyType::missionControl:
            return XKB_KEY_XF86LaunchA;
        case MediaKeyType::search:
            return XKB_KEY_Super_L;
        default:
            return std::nullopt;
    }
}

xkb_keysym_t keysymForCharacter(char32_t character) {
    switch (character) {
        case U'\n':
        case U'\r':
            return XKB_KEY_Return;
        case U'\t':
            return XKB_KEY_Tab;
        case U'\b':
            return XKB_KEY_BackSpace;
        case 0x1B:
            return XKB_KEY_Escape;
        case 0x7F:
            return XKB_KEY_Delete;
        default:
            return xkb_utf32_to_keysym(static_cast<std::uint32_t>(character));
    }
}

}  // namespace

std::unique_ptr<XTestInputPoster> XTestInputPoster::open(const std::string& displayName) {
    std::unique_ptr<XcbConnection> connection = XcbConnection::open(displayName);
    if (!connection)
        return nullptr;
    return std::unique_ptr<XTestInputPoster>(new XTestInputPoster(std::move(connection)));
}

XTestInputPoster::XTestInputPoster(std::unique_ptr<XcbConnection> connection)
    : connection_(std::move(connection)) {
    hasXTest_ = connection_->hasExtension("XTEST");
    keyboard_ = XkbKeyboard::open(*connection_);
    if (!keyboard_)
        return;
    std::lock_guard lock(mutex_);
    refreshKeymapIfStale();
    if (!keymap_)
        return;
    // Keycodes without any symbol serve for characters outside the layout; take them from the top.
    for (xkb_keycode_t keycode = xkb_keymap_max_keycode(keymap_.get());
         keycode >= xkb_keymap_min_keycode(keymap_.get()) && keycode >= 8 &&
         spareKeycodes_.size() < spareKeycodeCount;
         --keycode) {
        if (xkb_keymap_num_layouts_for_key(keymap_.get(), keycode) == 0)
            spareKeycodes_.push_back({keycode, XKB_KEY_NoSymbol, 0});
    }
}

XTestInputPoster::~XTestInputPoster() {
    std::lock_guard lock(mutex_);
    for (auto& [keycode, keys] : holders_)
        fakeInput(XCB_KEY_RELEASE, static_cast<std::uint8_t>(keycode));
    for (const SpareKeycode& spare : spareKeycodes_) {
        if (spare.keysym == XKB_KEY_NoSymbol)
            continue;
        xcb_keysym_t none[2] = {XCB_NO_SYMBOL, XCB_NO_SYMBOL};
        xcb_change_keyboard_mapping(connection_->get(), 1, static_cast<xcb_keycode_t>(spare.keycode), 2,
                                    none);
    }
    auto cookie = xcb_get_input_focus(connection_->get());
    XcbReply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(connection_->get(), cookie, nullptr));
}

void XTestInputPoster::fakeInput(std::uint8_t type, std::uint8_t detail, std::int16_t x, std::int16_t y) {
    xcb_test_fake_input(connection_->get(), type, detail, XCB_CURRENT_TIME,
                        type == XCB_MOTION_NOTIFY ? connection_->root() : XCB_NONE, x, y, 0);
}

bool XTestInputPoster::flush() {
    return xcb_flush(connection_->get()) > 0 && !connection_->hasError();
}

std::optional<DisplayPoint> XTestInputPoster::cursorLocation() {
    auto cookie = xcb_query_pointer(connection_->get(), connection_->root());
    XcbReply<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(connection_->get(), cookie, nullptr));
    if (!reply)
        return std::nullopt;
    return DisplayPoint{static_cast<double>(reply->root_x), static_cast<double>(reply->root_y)};
}

bool XTestInputPoster::postMouseEvent(const SyntheticMouseEvent& event) {
    std::lock_guard lock(mutex_);
    if (isMoveEvent(event.type)) {
        fakeInput(XCB_MOTION_NOTIFY, 0, toCoordinate(event.location.x), toCoordinate(event.location.y));
    } else {
        fakeInput(isPressEvent(event.type) ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE,
                  xButton(event.buttonNumber));
    }
    return flush();
}

bool XTestInputPoster::postScrollEvent(const SyntheticScrollEvent& event) {
    std::lock_guard lock(mutex_);
    bool gestureStarts = event.momentumPhase == 0 && event.scrollPhase == 128;
    if (gestureStarts) {
        scrollAccumulatorX_ = 0;
        scrollAccumulatorY_ = 0;
    }
    scrollAccumulatorY_ += event.pointDeltaY;
    scrollAccumulatorX_ += event.pointDeltaX;
    auto clicks = [this](double& accumulator, std::uint8_t positiveButton, std::uint8_t negativeButton) {
        while (accumulator >= scrollDetentPixels) {
            fakeInput(XCB_BUTTON_PRESS, positiveButton);
            fakeInput(XCB_BUTTON_RELEASE, positiveButton);
            accumulator -= scrollDetentPixels;
        }
        while (accumulator <= -scrollDetentPixels) {
            fakeInput(XCB_BUTTON_PRESS, negativeButton);
            fakeInput(XCB_BUTTON_RELEASE, negativeButton);
            accumulator += scrollDetentPixels;
        }
    };
    // Positive vertical deltas scroll up (button 4), positive horizontal ones left (button 6).
    clicks(scrollAccumulatorY_, 4, 5);
    clicks(scrollAccumulatorX_, 6, 7);
    bool gestureEnds = (event.momentumPhase == 0 && event.scrollPhase == 4) || event.momentumPhase == 3;
    if (gestureEnds) {
        scrollAccumulatorX_ = 0;
        scrollAccumulatorY_ = 0;
    }
    return flush();
}

void XTestInputPoster::refreshKeymapIfStale() {
    if (!keyboard_)
        return;
    auto now = std::chrono::steady_clock::now();
    std::optional<XkbKeyboard::LockState> state = keyboard_->lockState();
    std::uint32_t group = state ? state->effectiveGroup : 0;
    // A new layout (setxkbmap) changes the rules names at once; other keymap changes are caught within a
    // second.
    std::optional<XkbKeyboard::RulesNames> rules = keyboard_->rulesNames();
    if (keymap_ && group == keymapGroup_ && rules == keymapRules_ &&
        now - keymapFetched_ < std::chrono::seconds(1))
        return;
    XkbKeymapPointer keymap = keyboard_->fetchKeymap();
    if (!keymap)
        return;
    keymap_ = std::move(keymap);
    probeState_.reset(xkb_state_new(keymap_.get()));
    keymapFetched_ = now;
    keymapGroup_ = group;
    keymapRules_ = std::move(rules);
    keysymIndex_.clear();
    for (xkb_keycode_t keycode = xkb_keymap_min_keycode(keymap_.get());
         keycode <= xkb_keymap_max_keycode(keymap_.get()); ++keycode) {
        if (std::any_of(spareKeycodes_.begin(), spareKeycodes_.end(),
                        [keycode](const SpareKeycode& spare) { return spare.keycode == keycode; }))
            continue;
        xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap_.get(), keycode);
        if (layouts == 0)
            continue;
        xkb_layout_index_t layout = group < layouts ? group : 0;
        xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap_.get(), keycode, layout);
        for (xkb_level_index_t level = 0; level < levels && level < 2; ++level) {
            const xkb_keysym_t* symbols = nullptr;
            int count = xkb_keymap_key_get_syms_by_level(keymap_.get(), keycode, layout, level, &symbols);
            for (int index = 0; index < count; ++index)
                keysymIndex_[symbols[index]].push_back(keycode);
        }
    }
}

std::optional<xkb_keycode_t> XTestInputPoster::keycodeForKeysym(xkb_keysym_t keysym) {
    auto found = keysymIndex_.find(keysym);
    if (found == keysymIndex_.end() || found->second.empty())
        return std::nullopt;
    return found->second.front();
}

xkb_keycode_t XTestInputPoster::spareKeycodeFor(xkb_keysym_t keysym) {
    ++spareUses_;
    for (SpareKeycode& spare : spareKeycodes_) {
        if (spare.keysym == keysym) {
            spare.lastUse = spareUses_;
            return spare.keycode;
        }
    }
    auto oldest =
        std::min_element(spareKeycodes_.begin(), spareKeycodes_.end(),
                         [](const SpareKeycode& a, const SpareKeycode& b) { return a.lastUse < b.lastUse; });
    xcb_keysym_t symbols[2] = {keysym, keysym};
    xcb_change_keyboard_mapping(connection_->get(), 1, static_cast<xcb_keycode_t>(oldest->keycode), 2,
                                symbols);
    oldest->keysym = keysym;
    oldest->lastUse = spareUses_;
    return oldest->keycode;
}

void XTestInputPoster::tapKeycode(xkb_keycode_t keycode) {
    fakeInput(XCB_KEY_PRESS, static_cast<std::uint8_t>(keycode));
    fakeInput(XCB_KEY_RELEASE, static_cast<std::uint8_t>(keycode));
}

void XTestInputPoster::typeKeysym(xkb_keysym_t keysym, xkb_mod_mask_t lockedModifiers, std::uint32_t group) {
    xkb_mod_index_t shiftIndex = xkb_keymap_mod_get_index(keymap_.get(), XKB_MOD_NAME_SHIFT);
    xkb_mod_mask_t shiftMask = shiftIndex == XKB_MOD_INVALID ? 0 : (1u << shiftIndex);
    auto found = keysymIndex_.find(keysym);
    if (found != keysymIndex_.end() && probeState_) {
        for (xkb_mod_mask_t depressed : {xkb_mod_mask_t{0}, shiftMask}) {
            xkb_state_update_mask(probeState_.get(), depressed, 0, lockedModifiers, 0, 0, group);
            for (xkb_keycode_t keycode : found->second) {
                if (xkb_state_key_get_one_sym(probeState_.get(), keycode) != keysym)
                    continue;
                std::optional<xkb_keycode_t> shiftKey = keycodeForKeysym(XKB_KEY_Shift_L);
                bool pressShift = depressed != 0 && shiftKey;
                if (depressed != 0 && !shiftKey)
                    continue;
                if (pressShift)
                    fakeInput(XCB_KEY_PRESS, static_cast<std::uint8_t>(*shiftKey));
                tapKeycode(keycode);
                if (pressShift)
                    fakeInput(XCB_KEY_RELEASE, static_cast<std::uint8_t>(*shiftKey));
                return;
            }
        }
    }
    if (spareKeycodes_.empty())
        return;
    tapKeycode(spareKeycodeFor(keysym));
}

bool XTestInputPoster::postText(std::u16string_view chunk, std::uint32_t) {
    std::lock_guard lock(mutex_);
    if (!keyboard_)
        return false;
    refreshKeymapIfStale();
    if (!keymap_)
        return false;
    std::optional<XkbKeyboard::LockState> state = keyboard_->lockState();
    xkb_mod_mask_t locked = state ? state->lockedModifiers : 0;
    std::uint32_t group = state ? state->effectiveGroup : 0;
    for (std::size_t index = 0; index < chunk.size(); ++index) {
        char32_t character = chunk[index];
        if (character >= 0xD800 && character < 0xDC00 && index + 1 < chunk.size()) {
            char32_t low = chunk[index + 1];
            character = 0x10000 + ((character - 0xD800) << 10) + (low - 0xDC00);
            ++index;
        }
        xkb_keysym_t keysym = keysymForCharacter(character);
        if (keysym == XKB_KEY_NoSymbol)
            continue;
        typeKeysym(keysym, locked, group);
    }
    return flush();
}

bool XTestInputPoster::postKeyEvent(const SyntheticKeyEvent& event) {
    std::lock_guard lock(mutex_);
    std::optional<std::uint32_t> keycode = x11KeyCode(event.key);
    if (!keycode) {
        // The fn key has no counterpart on X11; a chord that needs it does nothing.
        if (!loggedMissingFn_)
            logger_.notice("The fn key has no key on this desktop and is ignored");
        loggedMissingFn_ = true;
        return true;
    }
    if (event.key == RemoteKeyboardKey::rightOption) {
        refreshKeymapIfStale();
        if (std::optional<xkb_keycode_t> levelThree = keycodeForKeysym(XKB_KEY_ISO_Level3_Shift))
            keycode = *levelThree;
    }
    std::set<RemoteKeyboardKey>& keys = holders_[*keycode];
    auto detail = static_cast<std::uint8_t>(*keycode);
    if (event.isDown) {
        bool alreadyDown = !keys.empty();
        bool sameKeyAgain = keys.contains(event.key);
        keys.insert(event.key);
        if (!alreadyDown || sameKeyAgain)
            fakeInput(XCB_KEY_PRESS, detail);
    } else {
        keys.erase(event.key);
        if (keys.empty()) {
            holders_.erase(*keycode);
            fakeInput(XCB_KEY_RELEASE, detail);
        }
    }
    return flush();
}

bool XTestInputPoster::postMediaKey(std::int32_t keyType, bool isDown) {
    std::lock_guard lock(mutex_);
    std::optional<xkb_keysym_t> keysym = mediaKeysym(keyType);
    if (!keysym)
        return false;
    if (!isDown) {
        auto held = heldMediaKeys_.find(keyType);
        if (held == heldMediaKeys_.end())
            return true;
        fakeInput(XCB_KEY_RELEASE, static_cast<std::uint8_t>(held->second));
        heldMediaKeys_.erase(held);
        return flush();
    }
    refreshKeymapIfStale();
    std::optional<xkb_keycode_t> keycode = keycodeForKeysym(*keysym);
    if (!keycode) {
        if (spareKeycodes_.empty())
            return false;
        keycode = spareKeycodeFor(*keysym);
    }
    heldMediaKeys_[keyType] = *keycode;
    fakeInput(XCB_KEY_PRESS, static_cast<std::uint8_t>(*keycode));
    return flush();
}

}  // namespace quillbridge
