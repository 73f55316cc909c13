#include "input/MacKeyboardInputSourceSwitcher.hpp"

namespace quillbridge {

namespace {

constexpr std::string_view lastNonLatinKey = "LastNonLatinCapsLockInputSourceID";
constexpr std::string_view lastCapsPositionKey = "LastCapsPositionInputSourceID";
constexpr std::string_view legacyKey = "LastCJKCapsLockInputSourceID";

KeyboardSpecialKeyStyle styleOf(const KeyboardInputSource& source) {
    return keyboardSpecialKeyStyle(source.languages);
}

bool isSelectableKeyboardSource(const KeyboardInputSource& source) {
    return source.isKeyboardInputSource && source.isEnabled && source.isSelectCapable;
}

}  // namespace

MacKeyboardInputSourceSwitcher::MacKeyboardInputSourceSwitcher(KeyboardInputSourcePort& port,
                                                               DefaultsStore& defaults)
    : port_(port), defaults_(defaults) {
    std::optional<std::string> legacy = defaults_.string(legacyKey);
    lastNonLatinInputSourceID_ = defaults_.string(lastNonLatinKey);
    if (!lastNonLatinInputSourceID_)
        lastNonLatinInputSourceID_ = legacy;
    lastCapsPositionInputSourceID_ = defaults_.string(lastCapsPositionKey);
    if (!lastCapsPositionInputSourceID_)
        lastCapsPositionInputSourceID_ = legacy;
}

std::optional<std::string> MacKeyboardInputSourceSwitcher::lastNonLatinInputSourceID() const {
    std::lock_guard lock(mutex_);
    return lastNonLatinInputSourceID_;
}

std::optional<std::string> MacKeyboardInputSourceSwitcher::lastCapsPositionInputSourceID() const {
    std::lock_guard lock(mutex_);
    return lastCapsPositionInputSourceID_;
}

std::optional<KeyboardInputSource> MacKeyboardInputSourceSwitcher::sourceByIdentifier(
    const std::string& identifier) {
    for (const KeyboardInputSource& source : port_.enabledInputSources()) {
        if (isSelectableKeyboardSource(source) && source.inputSourceID == identifier)
            return source;
    }
    return std::nullopt;
}

void MacKeyboardInputSourceSwitcher::remember(const KeyboardInputSource& source, bool romanSwitchOn) {
    if (source.inputSourceID.empty())
        return;
    lastNonLatinInputSourceID_ = source.inputSourceID;
    defaults_.setString(lastNonLatinKey, source.inputSourceID);
    KeyboardSpecialKeyStyle style = styleOf(source);
    if (style == KeyboardSpecialKeyStyle::chineseLanguageSwitch ||
        (style == KeyboardSpecialKeyStyle::koreanLanguageSwitch && romanSwitchOn)) {
        lastCapsPositionInputSourceID_ = source.inputSourceID;
        defaults_.setString(lastCapsPositionKey, source.inputSourceID);
    }
}

std::optional<KeyboardInputSource> MacKeyboardInputSourceSwitcher::rememberedNonLatinSource(
    bool romanSwitchOn) {
    if (lastNonLatinInputSourceID_) {
        std::optional<KeyboardInputSource> source = sourceByIdentifier(*lastNonLatinInputSourceID_);
        if (source && !source->isASCIICapable)
            return source;
    }
    for (const KeyboardInputSource& source : port_.enabledInputSources()) {
        if (isSelectableKeyboardSource(source) && !source.isASCIICapable) {
            remember(source, romanSwitchOn);
            return source;
        }
    }
    return std::nullopt;
}

std::optional<KeyboardSpecialKeyStyle> MacKeyboardInputSourceSwitcher::rememberedCapsPositionStyle(
    bool romanSwitchOn) {
    if (!romanSwitchOn || !lastCapsPositionInputSourceID_)
        return std::nullopt;
    std::optional<KeyboardInputSource> source = sourceByIdentifier(*lastCapsPositionInputSourceID_);
    if (!source)
        return std::nullopt;
    KeyboardSpecialKeyStyle style = styleOf(*source);
    if (style == KeyboardSpecialKeyStyle::chineseLanguageSwitch ||
        style == KeyboardSpecialKeyStyle::koreanLanguageSwitch)
        return style;
    return std::nullopt;
}

void MacKeyboardInputSourceSwitcher::refresh() {
    std::lock_guard lock(mutex_);
    std::optional<KeyboardInputSource> current = port_.currentKeyboardInputSource();
    if (current && !current->isASCIICapable)
        remember(*current, port_.capsLockSwitchesInputSource());
}

bool MacKeyboardInputSourceSwitcher::handleCapsLock() {
    if (!port_.capsLockSwitchesInputSource())
        return false;
    std::lock_guard lock(mutex_);
    std::optional<KeyboardInputSource> current = port_.currentKeyboardInputSource();
    if (!current)
        return false;
    std::optional<KeyboardInputSource> target;
    if (current->isASCIICapable) {
        target = rememberedNonLatinSource(true);
    } else {
        remember(*current, true);
        target = port_.currentASCIICapableKeyboardInputSource();
    }
    if (!target)
        return false;
    int status = port_.selectInputSource(target->inputSourceID);
    if (status != 0) {
        logger_.error("Failed to select keyboard input source: ", status);
        return false;
    }
    return true;
}

KeyboardSpecialKeyStyle MacKeyboardInputSourceSwitcher::currentSpecialKeyStyle() {
    bool romanSwitchOn = port_.capsLockSwitchesInputSource();
    std::lock_guard lock(mutex_);
    std::optional<KeyboardInputSource> current = port_.currentKeyboardInputSource();
    if (!current)
        return KeyboardSpecialKeyStyle::standard;
    if (current->isASCIICapable)
        return rememberedCapsPositionStyle(romanSwitchOn).value_or(KeyboardSpecialKeyStyle::standard);
    remember(*current, romanSwitchOn);
    switch (KeyboardSpecialKeyStyle style = styleOf(*current)) {
        case KeyboardSpecialKeyStyle::rightToLeft:
        case KeyboardSpecialKeyStyle::chineseLanguageSwitch:
            return style;
        case KeyboardSpecialKeyStyle::koreanLanguageSwitch:
            return romanSwitchOn ? style : KeyboardSpecialKeyStyle::standard;
        case KeyboardSpecialKeyStyle::japaneseLanguageSwitch:
            return rememberedCapsPositionStyle(romanSwitchOn).value_or(style);
        case KeyboardSpecialKeyStyle::standard:
            break;
    }
    return rememberedCapsPositionStyle(romanSwitchOn).value_or(KeyboardSpecialKeyStyle::standard);
}

std::optional<bool> MacKeyboardInputSourceSwitcher::currentLanguageSwitchIsLatin() {
    if (!port_.capsLockSwitchesInputSource())
        return std::nullopt;
    std::lock_guard lock(mutex_);
    std::optional<KeyboardInputSource> current = port_.currentKeyboardInputSource();
    if (!current)
        return std::nullopt;
    auto isSwitch = [](KeyboardSpecialKeyStyle style) {
        return style == KeyboardSpecialKeyStyle::chineseLanguageSwitch ||
               style == KeyboardSpecialKeyStyle::koreanLanguageSwitch;
    };
    if (current->isASCIICapable) {
        std::optional<KeyboardInputSource> remembered = rememberedNonLatinSource(true);
        if (remembered && isSwitch(styleOf(*remembered)))
            return true;
        return std::nullopt;
    }
    remember(*current, true);
    if (isSwitch(styleOf(*current)))
        return false;
    return std::nullopt;
}

}  // namespace quillbridge
