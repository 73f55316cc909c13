#include "core/Bytes.hpp"

#include <cctype>

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
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    Bytes bytes;
    std::size_t index = 0;
    while (index < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[index]))) {
            ++index;
            continue;
        }
        if (index + 1 >= text.size())
            return std::nullopt;
        int high = nibble(text[index]);
        int low = nibble(text[index + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
        index += 2;
    }
    return bytes;
}

}  // namespace quillbridge
