#pragma once

#include <optional>
#include <string>
#include <tuple>

#include "core/Json.hpp"
#include "wire/KeyboardDeadKeyModifiers.hpp"

namespace quillbridge {

// What one key produces under the current layout in each of eight modifier states. A label is absent when
// the translation fails, gives no characters or gives a control character (below U+0020, or U+007F). The
// host always writes `deadKeyModifiers` (0 when the key is dead in no state) and sets `isDeadKey` exactly
// when it is not 0; a reader takes a missing `deadKeyModifiers` all the same.
struct KeyLabelSet {
    std::optional<std::string> normal;
    std::optional<std::string> shift;
    std::optional<std::string> caps;
    std::optional<std::string> capsShift;
    std::optional<std::string> option;
    std::optional<std::string> optionShift;
    std::optional<std::string> optionCaps;
    std::optional<std::string> optionCapsShift;
    bool isDeadKey = false;
    std::optional<KeyboardDeadKeyModifiers> deadKeyModifiers;
};

template <>
struct JsonFields<KeyLabelSet> {
    static auto fields() {
        return std::tuple{jsonField("normal", &KeyLabelSet::normal),
                          jsonField("shift", &KeyLabelSet::shift),
                          jsonField("caps", &KeyLabelSet::caps),
                          jsonField("capsShift", &KeyLabelSet::capsShift),
                          jsonField("option", &KeyLabelSet::option),
                          jsonField("optionShift", &KeyLabelSet::optionShift),
                          jsonField("optionCaps", &KeyLabelSet::optionCaps),
                          jsonField("optionCapsShift", &KeyLabelSet::optionCapsShift),
                          jsonField("isDeadKey", &KeyLabelSet::isDeadKey),
                          jsonField("deadKeyModifiers", &KeyLabelSet::deadKeyModifiers)};
    }
};

}  // namespace quillbridge
