#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/Bytes.hpp"
#include "session/VideoColorProperties.hpp"
#include "wire/StreamCodec.hpp"

namespace quillbridge {

// The format of an encoder's output, as the headset needs it to decode the frames.
struct VideoEncoderOutputFormat {
    StreamCodec codec = StreamCodec::h264;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // Size of the big-endian length prefix in front of each NAL unit of a payload.
    std::int32_t nalUnitHeaderLength = 4;
    // Raw NAL units without start codes: H.264 SPS, PPS; HEVC VPS, SPS, PPS.
    std::vector<Bytes> parameterSets;
    // The colour description the encoder wrote into the bitstream, if any.
    std::optional<VideoColorProperties> colorProperties;

    bool operator==(const VideoEncoderOutputFormat&) const = default;
};

}  // namespace quillbridge
