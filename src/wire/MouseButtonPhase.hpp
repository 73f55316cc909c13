#pragma once

#include <array>
#include <string_view>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// A mouse button going down or up.
enum class MouseButtonPhase {
    pressed,
    released,
};

template <>
struct JsonEnumCases<MouseButtonPhase> {
    using enum MouseButtonPhase;
    static constexpr std::array cases{
        rawCase(pressed, "pressed"),
        rawCase(released, "released"),
    };
};
static_assert(isWellFormedRawValueTable<MouseButtonPhase>());

}  // namespace quillbridge
