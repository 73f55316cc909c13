#include "core/Bytes.hpp"

#include <cctype>

#include "core/HexDigit.hpp"

namespace quillbridge {

std::string toHex(ByteView bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (auto byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0f]);
    }
    return text;
}

std::optional<Bytes> fromHex(std::string_view text) {
    Bytes bytes;
    std::size_t index = 0;
    while (index < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[index]))) {
            ++index;
            continue;
        }
        if (index + 1 >= text.size())
            return std::nullopt;
        int high = hexDigitValue(text[index]);
        int low = hexDigitValue(text[index + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
        index += 2;
    }
    return bytes;
}

}  // namespace quillbridge
