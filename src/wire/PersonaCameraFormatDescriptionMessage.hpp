#pragma once

#include <cstdint>
#include <tuple>
#include <vector>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "wire/StreamCodec.hpp"

namespace quillbridge {

// Control message `personaCameraFormat`: the format of the headset's Persona video. Each NAL unit of a
// frame sits behind a big-endian length prefix of `nalUnitHeaderLength` bytes.
struct PersonaCameraFormatDescriptionMessage {
    StreamCodec codec = StreamCodec::h264;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int32_t nalUnitHeaderLength = 0;
    std::vector<Bytes> parameterSets;
};

template <>
struct JsonFields<PersonaCameraFormatDescriptionMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("codec", &PersonaCameraFormatDescriptionMessage::codec),
            jsonField("width", &PersonaCameraFormatDescriptionMessage::width),
            jsonField("height", &PersonaCameraFormatDescriptionMessage::height),
            jsonField("nalUnitHeaderLength", &PersonaCameraFormatDescriptionMessage::nalUnitHeaderLength),
            jsonField("parameterSets", &PersonaCameraFormatDescriptionMessage::parameterSets),
        };
    }
};

}  // namespace quillbridge
