#pragma once

#include <array>
#include <string_view>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// Phase of inertial scrolling after a gesture; `none` when the step carries no momentum.
enum class MouseScrollMomentumPhase {
    none,
    begin,
    continuous,
    end,
};

template <>
struct JsonEnumCases<MouseScrollMomentumPhase> {
    using enum MouseScrollMomentumPhase;
    static constexpr std::array cases{
        rawCase(none, "none"),
        rawCase(begin, "begin"),
        rawCase(continuous, "continuous"),
        rawCase(end, "end"),
    };
};
static_assert(isWellFormedRawValueTable<MouseScrollMomentumPhase>());

}  // namespace quillbridge
