#pragma once

#include <cstdint>
#include <optional>
#include <tuple>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "wire/AudioCodec.hpp"

namespace quillbridge {

// The format of the host's compressed audio. No magic cookie differs from an empty one: the first is left
// out of the JSON, the second is written as "".
struct AudioStreamFormatMessage {
    AudioCodec codec = AudioCodec::aacELD;
    double sampleRate = 0;
    std::uint32_t channelCount = 0;
    // The encoder's decoder configuration, when it has one.
    std::optional<Bytes> magicCookie{};
};

template <>
struct JsonFields<AudioStreamFormatMessage> {
    static auto fields() {
        return std::tuple{jsonField("codec", &AudioStreamFormatMessage::codec),
                          jsonField("sampleRate", &AudioStreamFormatMessage::sampleRate),
                          jsonField("channelCount", &AudioStreamFormatMessage::channelCount),
                          jsonField("magicCookie", &AudioStreamFormatMessage::magicCookie)};
    }
};

}  // namespace quillbridge
