#pragma once

#include <tuple>

#include "core/Json.hpp"
#include "wire/KeyLabelSet.hpp"
#include "wire/RemoteKeyboardKey.hpp"

namespace quillbridge {

// The labels of one key in a keyboard layout snapshot.
struct KeyboardLayoutKeyLabel {
    RemoteKeyboardKey key = RemoteKeyboardKey::a;
    KeyLabelSet labels;
};

template <>
struct JsonFields<KeyboardLayoutKeyLabel> {
    static auto fields() {
        return std::tuple{jsonField("key", &KeyboardLayoutKeyLabel::key),
                          jsonField("labels", &KeyboardLayoutKeyLabel::labels)};
    }
};

}  // namespace quillbridge
