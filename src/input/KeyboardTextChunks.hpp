#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillbridge {

// The largest text, in UTF-8 bytes, that the keyboard types in one go.
inline constexpr std::size_t maximumTypedTextBytes = 16384;
// The most UTF-16 units one synthetic text event carries.
inline constexpr std::size_t maximumTextChunkUnits = 20;

// Splits valid UTF-8 text into UTF-16 chunks of at most 20 units, cut only between scalars (a surrogate
// pair is never split; a combining sequence may be).
std::vector<std::u16string> splitTextIntoKeyboardChunks(std::string_view utf8);

}  // namespace quillbridge
