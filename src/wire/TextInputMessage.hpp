#pragma once

#include <cstddef>
#include <string>
#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `textInput` (headset to host): text to be typed on the host as characters, independent of
// keys. Any text decodes; the receiver takes 1 to `textInputMaximumByteCount` bytes of UTF-8 and refuses
// an empty or longer text.
struct TextInputMessage {
    std::string text;
};

inline constexpr std::size_t textInputMaximumByteCount = 16'384;

template <>
struct JsonFields<TextInputMessage> {
    static auto fields() { return std::tuple{jsonField("text", &TextInputMessage::text)}; }
};

}  // namespace quillbridge
