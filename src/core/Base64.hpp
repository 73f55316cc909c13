#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.hpp"

namespace quillbridge {

// Standard alphabet with '=' padding, as JSON byte fields use it.
std::string encodeBase64(ByteView bytes);

// Strict: the standard alphabet only, padding required (length a multiple of 4), no white space, and
// no stray bits in the last group. Returns nothing on any deviation.
std::optional<Bytes> decodeBase64(std::string_view text);

}  // namespace quillbridge
