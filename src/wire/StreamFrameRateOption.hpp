#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <utility>

#include "core/Json.hpp"

namespace quillbridge {

// Frames per second of capture and encoding. Travels as the bare integer (60, not "60").
enum class StreamFrameRateOption {
    fps30,
    fps60,
    fps90,
    fps120,
};

template <>
struct JsonEnumCases<StreamFrameRateOption> {
    static constexpr std::array cases{
        std::pair{StreamFrameRateOption::fps30, std::int64_t{30}},
        std::pair{StreamFrameRateOption::fps60, std::int64_t{60}},
        std::pair{StreamFrameRateOption::fps90, std::int64_t{90}},
        std::pair{StreamFrameRateOption::fps120, std::int64_t{120}},
    };
};

// Every case, in declaration order.
inline constexpr std::array allStreamFrameRateOptions{
    StreamFrameRateOption::fps30, StreamFrameRateOption::fps60, StreamFrameRateOption::fps90,
    StreamFrameRateOption::fps120};

constexpr std::int64_t rawValue(StreamFrameRateOption option) {
    return jsonRawValue(option);
}

constexpr std::optional<StreamFrameRateOption> streamFrameRateOptionFromRawValue(std::int64_t raw) {
    for (const auto& [option, framesPerSecond] : JsonEnumCases<StreamFrameRateOption>::cases) {
        if (framesPerSecond == raw)
            return option;
    }
    return std::nullopt;
}

}  // namespace quillbridge
