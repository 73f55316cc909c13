#include "platform/linux/x11/XkbKeyboardLayouts.hpp"

#include <array>
#include <cstring>
#include <string_view>
#include <utility>

#include <xkbcommon/xkbregistry.h>

#include "platform/linux/x11/X11KeyCodes.hpp"

namespace quillbridge {

namespace {

// Two-letter codes of the languages whose keyboards behave differently; others keep the registry's code.
std::string twoLetterLanguage(std::string_view code) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 40> table{{
        {"eng", "en"}, {"rus", "ru"}, {"deu", "de"}, {"ger", "de"}, {"fra", "fr"}, {"fre", "fr"},
        {"spa", "es"}, {"ita", "it"}, {"por", "pt"}, {"nld", "nl"}, {"dut", "nl"}, {"swe", "sv"},
        {"nor", "no"}, {"dan", "da"}, {"fin", "fi"}, {"pol", "pl"}, {"ces", "cs"}, {"cze", "cs"},
        {"ukr", "uk"}, {"bel", "be"}, {"bul", "bg"}, {"ell", "el"}, {"gre", "el"}, {"tur", "tr"},
        {"hun", "hu"}, {"ron", "ro"}, {"rum", "ro"}, {"srp", "sr"}, {"hrv", "hr"}, {"ara", "ar"},
        {"heb", "he"}, {"fas", "fa"}, {"per", "fa"}, {"hin", "hi"}, {"tha", "th"}, {"jpn", "ja"},
        {"kor", "ko"}, {"zho", "zh"}, {"chi", "zh"}, {"vie", "vi"},
    }};
    for (const auto& [three, two] : table) {
        if (three == code)
            return std::string(two);
    }
    return std::string(code);
}

std::string identifierFor(const std::string& layout, const std::string& variant) {
    return variant.empty() ? "xkb:" + layout : "xkb:" + layout + ":" + variant;
}

// The character a dead key stands for, shown as its label.
std::optional<std::string> deadKeyLabel(xkb_keysym_t keysym) {
    switch (keysym) {
        case XKB_KEY_dead_grave:
            return "`";
        case XKB_KEY_dead_acute:
            return "\xC2\xB4";
        case XKB_KEY_dead_circumflex:
            return "^";
        case XKB_KEY_dead_tilde:
            return "~";
        case XKB_KEY_dead_diaeresis:
            return "\xC2\xA8";
        case XKB_KEY_dead_cedilla:
            return "\xC2\xB8";
        case XKB_KEY_dead_abovering:
            return "\xCB\x9A";
        case XKB_KEY_dead_caron:
            return "\xCB\x87";
        case XKB_KEY_dead_macron:
            return "\xC2\xAF";
        case XKB_KEY_dead_breve:
            return "\xCB\x98";
        case XKB_KEY_dead_doubleacute:
            return "\xCB\x9D";
        case XKB_KEY_dead_ogonek:
            return "\xCB\x9B";
        case XKB_KEY_dead_abovedot:
            return "\xCB\x99";
        default:
            return std::nullopt;
    }
}

bool isDeadKeysym(xkb_keysym_t keysym) {
    char name[64];
    if (xkb_keysym_get_name(keysym, name, sizeof(name)) <= 0)
        return false;
    return std::strncmp(name, "dead_", 5) == 0;
}

class XkbLayout final : public KeyboardLayout {
public:
    XkbLayout(XkbKeymapPointer keymap, std::uint32_t group)
        : keymap_(std::move(keymap)), state_(xkb_state_new(keymap_.get())), group_(group) {
        auto mask = [this](const char* name) {
            xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap_.get(), name);
            return index == XKB_MOD_INVALID ? xkb_mod_mask_t{0} : xkb_mod_mask_t{1u << index};
        };
        shift_ = mask(XKB_MOD_NAME_SHIFT);
        lock_ = mask(XKB_MOD_NAME_CAPS);
        levelThree_ = mask("Mod5");
    }

    KeyTranslation translate(RemoteKeyboardKey key, std::uint16_t, std::uint32_t modifierState,
                             std::uint32_t) override {
        std::optional<std::uint32_t> keycode = x11KeyCode(key);
        if (!keycode || !state_)
            return {};
        xkb_mod_mask_t depressed = 0;
        if (modifierState & KeyTranslationModifiers::shift)
            depressed |= shift_;
        if (modifierState & KeyTranslationModifiers::option)
            depressed |= levelThree_;
        xkb_mod_mask_t locked = (modifierState & KeyTranslationModifiers::capsLock) ? lock_ : 0;
        xkb_state_update_mask(state_.get(), depressed, 0, locked, 0, 0, group_);
        xkb_keysym_t keysym = xkb_state_key_get_one_sym(state_.get(), *keycode);
        if (keysym == XKB_KEY_NoSymbol)
            return {};
        if (isDeadKeysym(keysym))
            return {deadKeyLabel(keysym), true};
        char text[64];
        int length = xkb_state_key_get_utf8(state_.get(), *keycode, text, sizeof(text));
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof(text))
            return {};
        return {std::string(text, static_cast<std::size_t>(length)), false};
    }

private:
    XkbKeymapPointer keymap_;
    XkbStatePointer state_;
    std::uint32_t group_;
    xkb_mod_mask_t shift_ = 0;
    xkb_mod_mask_t lock_ = 0;
    xkb_mod_mask_t levelThree_ = 0;
};

}  // namespace

std::unique_ptr<XkbKeyboardLayouts> XkbKeyboardLayouts::open(const std::string& displayName) {
    std::unique_ptr<XcbConnection> connection = XcbConnection::open(displayName);
    if (!connection)
        return nullptr;
    std::unique_ptr<XkbKeyboard> keyboard = XkbKeyboard::open(*connection);
    if (!keyboard)
        return nullptr;
    return std::unique_ptr<XkbKeyboardLayouts>(
        new XkbKeyboardLayouts(std::move(connection), std::move(keyboard)));
}

XkbKeyboardLayouts::XkbKeyboardLayouts(std::unique_ptr<XcbConnection> connection,
                                       std::unique_ptr<XkbKeyboard> keyboard)
    : connection_(std::move(connection)), keyboard_(std::move(keyboard)) {}

XkbKeyboardLayouts::~XkbKeyboardLayouts() {
    // The keyboard refers to the connection: let it go first.
    keyboard_.reset();
    if (registry_ != nullptr)
        rxkb_context_unref(registry_);
}

MacKeyboardInputSourceIdentity XkbKeyboardLayouts::describe(const std::string& layout,
                                                            const std::string& variant) {
    MacKeyboardInputSourceIdentity identity{
        identifierFor(layout, variant), identifierFor(layout, variant).substr(4), {}};
    if (!registryTried_) {
        registryTried_ = true;
        registry_ = rxkb_context_new(RXKB_CONTEXT_NO_FLAGS);
        if (registry_ != nullptr && !rxkb_context_parse_default_ruleset(registry_)) {
            rxkb_context_unref(registry_);
            registry_ = nullptr;
        }
    }
    if (registry_ == nullptr)
        return identity;
    for (rxkb_layout* entry = rxkb_layout_first(registry_); entry != nullptr;
         entry = rxkb_layout_next(entry)) {
        const char* name = rxkb_layout_get_name(entry);
        const char* entryVariant = rxkb_layout_get_variant(entry);
        if (name == nullptr || layout != name || variant != (entryVariant != nullptr ? entryVariant : ""))
            continue;
        if (const char* description = rxkb_layout_get_description(entry))
            identity.localizedName = description;
        for (rxkb_iso639_code* code = rxkb_layout_get_iso639_first(entry); code != nullptr;
             code = rxkb_iso639_code_next(code)) {
            if (const char* text = rxkb_iso639_code_get_code(code))
                identity.languages.push_back(twoLetterLanguage(text));
        }
        break;
    }
    return identity;
}

std::vector<XkbKeyboardLayouts::Group> XkbKeyboardLayouts::groups(const XkbKeymapPointer& keymap) {
    std::vector<Group> result;
    std::optional<XkbKeyboard::RulesNames> names = keyboard_->rulesNames();
    if (!names)
        return result;
    for (std::size_t index = 0; index < names->layouts.size(); ++index) {
        Group group;
        group.identity = describe(names->layouts[index], names->variants[index]);
        group.source.inputSourceID = group.identity.inputSourceID;
        group.source.languages = group.identity.languages;
        if (keymap) {
            // A source is ASCII-capable when its A key gives a Latin letter.
            const xkb_keysym_t* symbols = nullptr;
            int count = xkb_keymap_key_get_syms_by_level(keymap.get(), *x11KeyCode(RemoteKeyboardKey::a),
                                                         static_cast<xkb_layout_index_t>(index), 0, &symbols);
            group.source.isASCIICapable = count == 1 && symbols[0] >= XKB_KEY_a && symbols[0] <= XKB_KEY_z;
        }
        result.push_back(std::move(group));
    }
    return result;
}

std::uint32_t XkbKeyboardLayouts::currentGroup() {
    std::optional<XkbKeyboard::LockState> state = keyboard_->lockState();
    return state ? state->effectiveGroup : 0;
}

std::unique_ptr<KeyboardLayout> XkbKeyboardLayouts::currentLayout() {
    std::lock_guard lock(mutex_);
    XkbKeymapPointer keymap = keyboard_->fetchKeymap();
    if (!keymap)
        return nullptr;
    return std::make_unique<XkbLayout>(std::move(keymap), currentGroup());
}

MacKeyboardInputSourceIdentity XkbKeyboardLayouts::currentLayoutIdentity() {
    std::lock_guard lock(mutex_);
    std::vector<Group> all = groups(nullptr);
    std::uint32_t group = currentGroup();
    if (group < all.size())
        return all[group].identity;
    return {};
}

std::vector<MacKeyboardInputSourceIdentity> XkbKeyboardLayouts::identities() {
    std::lock_guard lock(mutex_);
    std::vector<MacKeyboardInputSourceIdentity> result;
    for (Group& group : groups(nullptr))
        result.push_back(std::move(group.identity));
    return result;
}

std::uint32_t XkbKeyboardLayouts::hardwareKeyboardType() {
    std::lock_guard lock(mutex_);
    std::optional<XkbKeyboard::RulesNames> names = keyboard_->rulesNames();
    // Only a Japanese keyboard model says something certain about the physical keys.
    if (names && names->model.starts_with("jp"))
        return 18;
    return 0;
}

RemoteKeyboardPhysicalLayout XkbKeyboardLayouts::physicalLayout(std::uint32_t keyboardType) {
    switch (keyboardType) {
        case 1:
            return RemoteKeyboardPhysicalLayout::ansi;
        case 4:
            return RemoteKeyboardPhysicalLayout::iso;
        case 18:
            return RemoteKeyboardPhysicalLayout::jis;
        default:
            return RemoteKeyboardPhysicalLayout::unknown;
    }
}

bool XkbKeyboardLayouts::capsLockSwitchesInputSource() {
    std::lock_guard lock(mutex_);
    std::optional<XkbKeyboard::RulesNames> names = keyboard_->rulesNames();
    if (!names)
        return false;
    for (const std::string& option : names->options) {
        if (option.starts_with("grp:caps"))
            return true;
    }
    return false;
}

std::optional<KeyboardInputSource> XkbKeyboardLayouts::currentKeyboardInputSource() {
    std::lock_guard lock(mutex_);
    std::vector<Group> all = groups(keyboard_->fetchKeymap());
    std::uint32_t group = currentGroup();
    if (group < all.size())
        return all[group].source;
    return std::nullopt;
}

std::vector<KeyboardInputSource> XkbKeyboardLayouts::enabledInputSources() {
    std::lock_guard lock(mutex_);
    std::vector<KeyboardInputSource> result;
    for (Group& group : groups(keyboard_->fetchKeymap()))
        result.push_back(std::move(group.source));
    return result;
}

std::optional<KeyboardInputSource> XkbKeyboardLayouts::currentASCIICapableKeyboardInputSource() {
    std::lock_guard lock(mutex_);
    std::vector<Group> all = groups(keyboard_->fetchKeymap());
    std::uint32_t group = currentGroup();
    if (group < all.size() && all[group].source.isASCIICapable)
        return all[group].source;
    for (Group& candidate : all) {
        if (candidate.source.isASCIICapable)
            return candidate.source;
    }
    return std::nullopt;
}

int XkbKeyboardLayouts::selectInputSource(const std::string& inputSourceID) {
    std::lock_guard lock(mutex_);
    std::vector<Group> all = groups(nullptr);
    for (std::size_t index = 0; index < all.size(); ++index) {
        if (all[index].source.inputSourceID == inputSourceID)
            return keyboard_->lockGroup(static_cast<std::uint32_t>(index));
    }
    return -1;
}

}  // namespace quillbridge
