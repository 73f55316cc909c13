#pragma once

#include <array>
#include <string_view>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// Phase of a continuous (trackpad) scroll gesture; `none` for a scroll outside any gesture.
enum class MouseScrollPhase {
    none,
    mayBegin,
    began,
    changed,
    ended,
};

template <>
struct JsonEnumCases<MouseScrollPhase> {
    using enum MouseScrollPhase;
    static constexpr std::array cases{
        rawCase(none, "none"),       rawCase(mayBegin, "mayBegin"), rawCase(began, "began"),
        rawCase(changed, "changed"), rawCase(ended, "ended"),
    };
};
static_assert(isWellFormedRawValueTable<MouseScrollPhase>());

}  // namespace quillbridge
