#pragma once

#include <array>
#include <string_view>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// Which hardware keyboard type the host assumes when it translates keys for the headset.
enum class KeyboardTypePreference {
    automatic,
    ansi,
    iso,
    jis,
};

template <>
struct JsonEnumCases<KeyboardTypePreference> {
    using enum KeyboardTypePreference;
    static constexpr std::array cases{
        rawCase(automatic, "automatic"),
        rawCase(ansi, "ansi"),
        rawCase(iso, "iso"),
        rawCase(jis, "jis"),
    };
};
static_assert(isWellFormedRawValueTable<KeyboardTypePreference>());

}  // namespace quillbridge
