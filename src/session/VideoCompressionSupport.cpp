#include "session/VideoCompressionSupport.hpp"

#include <algorithm>
#include <cmath>

namespace quillbridge {

std::int64_t recommendedBitrate(std::int64_t width, std::int64_t height, std::int64_t frameRate) {
    constexpr double floorBitsPerSecond = 1'000'000;
    constexpr double ceilingBitsPerSecond = 150'000'000;
    const double w = static_cast<double>(std::max<std::int64_t>(width, 0));
    const double h = static_cast<double>(std::max<std::int64_t>(height, 0));
    const double rate = static_cast<double>(std::max<std::int64_t>(frameRate, 0));
    const double bits = std::pow(rate / 30.0, 0.75) * (w * h * 30.0 * 0.15);
    if (std::isnan(bits) || bits < floorBitsPerSecond)
        return static_cast<std::int64_t>(floorBitsPerSecond);
    return static_cast<std::int64_t>(std::min(bits, ceilingBitsPerSecond));
}

std::pair<std::int64_t, std::int64_t> roundedPointSize(double width, double height) {
    auto side = [](double value) -> std::int64_t {
        if (!std::isfinite(value))
            return 0;
        return static_cast<std::int64_t>(std::round(value));
    };
    return {side(width), side(height)};
}

std::optional<VideoFormatDescriptionMessage> makeVideoFormatDescriptionMessage(
    const VideoEncoderOutputFormat* format, const std::optional<VideoColorProperties>& activeColorProperties,
    double capturedDisplayPointWidth, double capturedDisplayPointHeight) {
    if (format == nullptr)
        return std::nullopt;
    VideoFormatDescriptionMessage message;
    message.codec = format->codec;
    message.width = format->width;
    message.height = format->height;
    std::tie(message.pointWidth, message.pointHeight) =
        roundedPointSize(capturedDisplayPointWidth, capturedDisplayPointHeight);
    message.nalUnitHeaderLength = format->nalUnitHeaderLength;
    for (const auto& parameterSet : format->parameterSets) {
        if (parameterSet.empty()) {
            message.parameterSets.clear();
            break;
        }
        message.parameterSets.push_back(parameterSet);
    }
    std::optional<VideoColorProperties> colors = format->colorProperties;
    if (colors)
        colors = colors->merged(activeColorProperties);
    else
        colors = activeColorProperties;
    if (colors)
        message.colorProperties = colors->message();
    return message;
}

}  // namespace quillbridge
