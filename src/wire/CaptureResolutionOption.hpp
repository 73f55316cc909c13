#pragma once

#include <array>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// Capture size the headset asks for: the display's pixel size, or half of it in each dimension. The raw
// values are the long phrases the headset shows and sends ("Full resolution", not "full").
enum class CaptureResolutionOption {
    full,
    half,
};

template <>
struct JsonEnumCases<CaptureResolutionOption> {
    using enum CaptureResolutionOption;
    static constexpr std::array cases{
        rawCase(full, "Full resolution"),
        rawCase(half, "Half resolution"),
    };
};
static_assert(isWellFormedRawValueTable<CaptureResolutionOption>());

}  // namespace quillbridge
