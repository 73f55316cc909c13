#pragma once

#include <array>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// Video codec of the host's screen stream and of the headset's Persona camera stream.
enum class StreamCodec {
    h264,
    hevc,
};

template <>
struct JsonEnumCases<StreamCodec> {
    using enum StreamCodec;
    static constexpr std::array cases{
        rawCase(h264, "h264"),
        rawCase(hevc, "hevc"),
    };
};
static_assert(isWellFormedRawValueTable<StreamCodec>());

}  // namespace quillbridge
