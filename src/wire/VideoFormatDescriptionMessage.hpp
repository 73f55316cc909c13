#pragma once

#include <cstdint>
#include <optional>
#include <tuple>
#include <vector>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "wire/StreamCodec.hpp"
#include "wire/VideoColorPropertiesMessage.hpp"

namespace quillbridge {

// Control message `videoFormat`: the format of the host's encoded video. Each NAL unit of a frame sits
// behind a big-endian length prefix of `nalUnitHeaderLength` bytes; `parameterSets` are in the order the
// format lists them (H.264: SPS, PPS; HEVC: VPS, SPS, PPS).
struct VideoFormatDescriptionMessage {
    StreamCodec codec = StreamCodec::h264;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t pointWidth = 0;
    std::int64_t pointHeight = 0;
    std::int32_t nalUnitHeaderLength = 0;
    std::vector<Bytes> parameterSets;
    std::optional<VideoColorPropertiesMessage> colorProperties;
};

template <>
struct JsonFields<VideoFormatDescriptionMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("codec", &VideoFormatDescriptionMessage::codec),
            jsonField("width", &VideoFormatDescriptionMessage::width),
            jsonField("height", &VideoFormatDescriptionMessage::height),
            jsonField("pointWidth", &VideoFormatDescriptionMessage::pointWidth),
            jsonField("pointHeight", &VideoFormatDescriptionMessage::pointHeight),
            jsonField("nalUnitHeaderLength", &VideoFormatDescriptionMessage::nalUnitHeaderLength),
            jsonField("parameterSets", &VideoFormatDescriptionMessage::parameterSets),
            jsonField("colorProperties", &VideoFormatDescriptionMessage::colorProperties)};
    }
};

}  // namespace quillbridge
