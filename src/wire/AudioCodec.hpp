#pragma once

#include <array>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// Codec of the host's compressed audio; AAC-ELD is the only one.
enum class AudioCodec {
    aacELD,
};

template <>
struct JsonEnumCases<AudioCodec> {
    using enum AudioCodec;
    static constexpr std::array cases{
        rawCase(aacELD, "aacELD"),
    };
};
static_assert(isWellFormedRawValueTable<AudioCodec>());

}  // namespace quillbridge
