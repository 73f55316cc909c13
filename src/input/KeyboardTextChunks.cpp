#include "input/KeyboardTextChunks.hpp"

#include <cstdint>

namespace quillbridge {

namespace {

// Decodes the scalar at `index` of valid UTF-8 and moves past it.
char32_t nextScalar(std::string_view text, std::size_t& index) {
    auto byte = [&](std::size_t at) { return static_cast<std::uint8_t>(text[at]); };
    std::uint8_t lead = byte(index);
    if (lead < 0x80) {
        index += 1;
        return lead;
    }
    int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    char32_t scalar = lead & (length == 4 ? 0x07 : length == 3 ? 0x0F : 0x1F);
    for (int offset = 1; offset < length && index + offset < text.size(); ++offset)
        scalar = (scalar << 6) | (byte(index + offset) & 0x3F);
    index += length;
    return scalar;
}

}  // namespace

std::vector<std::u16string> splitTextIntoKeyboardChunks(std::string_view utf8) {
    std::vector<std::u16string> chunks;
    std::u16string chunk;
    std::size_t index = 0;
    while (index < utf8.size()) {
        char32_t scalar = nextScalar(utf8, index);
        std::size_t units = scalar > 0xFFFF ? 2 : 1;
        if (!chunk.empty() && chunk.size() + units > maximumTextChunkUnits) {
            chunks.push_back(std::move(chunk));
            chunk.clear();
        }
        if (units == 2) {
            char32_t offset = scalar - 0x10000;
            chunk.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
            chunk.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
        } else {
            chunk.push_back(static_cast<char16_t>(scalar));
        }
    }
    if (!chunk.empty())
        chunks.push_back(std::move(chunk));
    return chunks;
}

}  // namespace quillbridge
