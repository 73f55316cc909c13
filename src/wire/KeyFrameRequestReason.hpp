#pragma once

#include <array>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// Why the headset asks for a key frame. The host treats both alike.
enum class KeyFrameRequestReason {
    startup,
    formatChanged,
};

template <>
struct JsonEnumCases<KeyFrameRequestReason> {
    using enum KeyFrameRequestReason;
    static constexpr std::array cases{
        rawCase(startup, "startup"),
        rawCase(formatChanged, "formatChanged"),
    };
};
static_assert(isWellFormedRawValueTable<KeyFrameRequestReason>());

}  // namespace quillbridge
