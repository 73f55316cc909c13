#include "input/KeyboardLayoutProbe.hpp"

#include <array>
#include <cstdint>

#include "input/RemoteKeyboardKeyCodes.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

namespace {

struct Combination {
    std::optional<std::string> KeyLabelSet::*label;
    std::uint32_t modifierState;
    std::uint8_t deadKeyBit;
};

constexpr std::array<Combination, 8> combinations{{
    {&KeyLabelSet::normal, 0, 0x01},
    {&KeyLabelSet::shift, 2, 0x02},
    {&KeyLabelSet::caps, 4, 0x10},
    {&KeyLabelSet::capsShift, 6, 0x20},
    {&KeyLabelSet::option, 8, 0x04},
    {&KeyLabelSet::optionShift, 10, 0x08},
    {&KeyLabelSet::optionCaps, 12, 0x40},
    {&KeyLabelSet::optionCapsShift, 14, 0x80},
}};

// A label is shown only when it has text and no control character (below U+0020, or U+007F). Multi-byte
// UTF-8 sequences never contain bytes below 0x80, so a byte test suffices.
bool isShowable(const std::string& text) {
    if (text.empty())
        return false;
    for (unsigned char byte : text) {
        if (byte < 0x20 || byte == 0x7F)
            return false;
    }
    return true;
}

}  // namespace

std::optional<KeyboardLayoutSnapshot> KeyboardLayoutProbe::snapshot(
    const std::optional<MacKeyboardInputSourceIdentity>& identity, KeyboardTypePreference preference) {
    std::unique_ptr<KeyboardLayout> layout = port_.currentLayout();
    if (!layout)
        return std::nullopt;
    MacKeyboardInputSourceIdentity names = identity ? *identity : port_.currentLayoutIdentity();
    std::uint32_t hardwareType = port_.hardwareKeyboardType();
    std::uint32_t keyboardType = keyboardTypeFor(preference, hardwareType);

    KeyboardLayoutSnapshot snapshot;
    snapshot.inputSourceID = names.inputSourceID;
    snapshot.localizedName = names.localizedName;
    snapshot.languages = names.languages;
    if (hardwareType != 0) {
        snapshot.macKeyboardType = hardwareType;
        snapshot.macPhysicalLayout = port_.physicalLayout(hardwareType);
    } else {
        snapshot.macPhysicalLayout = RemoteKeyboardPhysicalLayout::unknown;
    }
    snapshot.effectiveKeyboardType = keyboardType;
    snapshot.effectivePreference = preference;

    for (RemoteKeyboardKey key : allEnumCases<RemoteKeyboardKey>()) {
        std::uint16_t code = virtualKeyCode(key);
        KeyLabelSet labels;
        std::uint8_t deadMask = 0;
        bool anyLabel = false;
        for (const Combination& combination : combinations) {
            KeyTranslation translation =
                layout->translate(key, code, combination.modifierState, keyboardType);
            if (translation.text && isShowable(*translation.text)) {
                labels.*combination.label = std::move(*translation.text);
                anyLabel = true;
            }
            if (translation.isDeadKey)
                deadMask |= combination.deadKeyBit;
        }
        if (!anyLabel)
            continue;
        labels.deadKeyModifiers = KeyboardDeadKeyModifiers(deadMask);
        labels.isDeadKey = deadMask != 0;
        snapshot.labels.push_back({key, std::move(labels)});
    }
    return snapshot;
}

}  // namespace quillbridge
