#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// A mouse button. A case's value (0 to 4) is the platform's mouse-button number: `primary` is the
// left button, `secondary` the right one, the others are "other" buttons carrying that number.
enum class MouseButton {
    primary = 0,
    secondary = 1,
    middle = 2,
    back = 3,
    forward = 4,
};

template <>
struct JsonEnumCases<MouseButton> {
    using enum MouseButton;
    static constexpr std::array cases{
        rawCase(primary, "primary"), rawCase(secondary, "secondary"), rawCase(middle, "middle"),
        rawCase(back, "back"),       rawCase(forward, "forward"),
    };
};
static_assert(isWellFormedRawValueTable<MouseButton>());

// The platform's number for the button: its position in the list of cases.
constexpr std::uint32_t mouseButtonNumber(MouseButton button) {
    return static_cast<std::uint32_t>(button);
}

}  // namespace quillbridge
