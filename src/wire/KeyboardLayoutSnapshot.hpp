#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/Json.hpp"
#include "wire/KeyboardLayoutKeyLabel.hpp"
#include "wire/KeyboardSpecialKeyStyle.hpp"
#include "wire/KeyboardTypePreference.hpp"
#include "wire/RemoteKeyboardPhysicalLayout.hpp"

namespace quillbridge {

// Control message `keyboardLayout` (host to headset): the host's current keyboard input source and the text
// each key produces on it.
// - `inputSourceID`, `localizedName` and `languages` are empty when the system gives none.
// - `macKeyboardType` is absent when the system reports 0; `macPhysicalLayout` is its layout class
//   (`unknown` when it is absent or of no known class).
// - `effectiveKeyboardType` is the type the labels were translated with, derived from
//   `effectivePreference`: `automatic` takes the host's type (1 when it reports 0), `ansi` 1, `iso` 4,
//   `jis` 18.
// - `labels` holds one entry per key that produces text, in `RemoteKeyboardKey` order; a key whose eight
//   labels are all absent has no entry.
struct KeyboardLayoutSnapshot {
    std::string inputSourceID;
    std::string localizedName;
    std::vector<std::string> languages;
    std::optional<KeyboardSpecialKeyStyle> specialKeyStyle;
    std::optional<std::uint32_t> macKeyboardType;
    RemoteKeyboardPhysicalLayout macPhysicalLayout = RemoteKeyboardPhysicalLayout::unknown;
    std::uint32_t effectiveKeyboardType = 0;
    KeyboardTypePreference effectivePreference = KeyboardTypePreference::automatic;
    std::vector<KeyboardLayoutKeyLabel> labels;
};

template <>
struct JsonFields<KeyboardLayoutSnapshot> {
    static auto fields() {
        return std::tuple{jsonField("inputSourceID", &KeyboardLayoutSnapshot::inputSourceID),
                          jsonField("localizedName", &KeyboardLayoutSnapshot::localizedName),
                          jsonField("languages", &KeyboardLayoutSnapshot::languages),
                          jsonField("specialKeyStyle", &KeyboardLayoutSnapshot::specialKeyStyle),
                          jsonField("macKeyboardType", &KeyboardLayoutSnapshot::macKeyboardType),
                          jsonField("macPhysicalLayout", &KeyboardLayoutSnapshot::macPhysicalLayout),
                          jsonField("effectiveKeyboardType", &KeyboardLayoutSnapshot::effectiveKeyboardType),
                          jsonField("effectivePreference", &KeyboardLayoutSnapshot::effectivePreference),
                          jsonField("labels", &KeyboardLayoutSnapshot::labels)};
    }
};

}  // namespace quillbridge
