#pragma once

#include <array>
#include <string_view>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// A key going down or up. A type of its own, not shared with `MouseButtonPhase`.
enum class KeyboardEventPhase {
    pressed,
    released,
};

template <>
struct JsonEnumCases<KeyboardEventPhase> {
    using enum KeyboardEventPhase;
    static constexpr std::array cases{
        rawCase(pressed, "pressed"),
        rawCase(released, "released"),
    };
};
static_assert(isWellFormedRawValueTable<KeyboardEventPhase>());

}  // namespace quillbridge
