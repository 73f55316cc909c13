#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "session/VideoColorProperties.hpp"
#include "session/VideoEncoderOutputFormat.hpp"
#include "wire/VideoFormatDescriptionMessage.hpp"

namespace quillbridge {

// Bits per second for a stream: (frameRate / 30)^0.75 x width x height x 30 x 0.15, at least 1,000,000 and at
// most 150,000,000, truncated. Negative inputs count as 0.
std::int64_t recommendedBitrate(std::int64_t width, std::int64_t height, std::int64_t frameRate);

// A size in points with each side rounded to the nearest integer, halves away from zero.
std::pair<std::int64_t, std::int64_t> roundedPointSize(double width, double height);

// The format message that announces an encoder's output format. The colour description is the output's,
// completed from `activeColorProperties` (those the encoder was built with), or those alone when the output
// has none. Nothing when there is no format. An empty parameter set leaves the message with none at all.
std::optional<VideoFormatDescriptionMessage> makeVideoFormatDescriptionMessage(
    const VideoEncoderOutputFormat* format, const std::optional<VideoColorProperties>& activeColorProperties,
    double capturedDisplayPointWidth, double capturedDisplayPointHeight);

}  // namespace quillbridge
