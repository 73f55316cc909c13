#include "core/Base64.hpp"

#include <array>

namespace quillbridge {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int, 256> makeReverseTable() {
    std::array<int, 256> table{};
    for (auto& entry : table)
        entry = -1;
    for (int index = 0; index < 64; ++index)
        table[static_cast<unsigned char>(alphabet[index])] = index;
    return table;
}

constexpr auto reverseTable = makeReverseTable();

}  // namespace

std::string encodeBase64(ByteView bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t index = 0;
    for (; index + 3 <= bytes.size(); index += 3) {
        std::uint32_t group = bytes[index] << 16 | bytes[index + 1] << 8 | bytes[index + 2];
        text.push_back(alphabet[group >> 18 & 63]);
        text.push_back(alphabet[group >> 12 & 63]);
        text.push_back(alphabet[group >> 6 & 63]);
        text.push_back(alphabet[group & 63]);
    }
    std::size_t rest = bytes.size() - index;
    if (rest > 0) {
        std::uint32_t group = bytes[index] << 16 | (rest == 2 ? bytes[index + 1] << 8 : 0);
        text.push_back(alphabet[group >> 18 & 63]);
        text.push_back(alphabet[group >> 12 & 63]);
        text.push_back(rest == 2 ? alphabet[group >> 6 & 63] : '=');
        text.push_back('=');
    }
    return text;
}

std::optional<Bytes> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    Bytes bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t index = 0; index < text.size(); index += 4) {
        bool last = index + 4 == text.size();
        int padding = 0;
        if (last) {
            if (text[index + 3] == '=')
                padding = text[index + 2] == '=' ? 2 : 1;
        }
        std::uint32_t group = 0;
        for (int offset = 0; offset < 4; ++offset) {
            int value = 0;
            if (offset < 4 - padding) {
                value = reverseTable[static_cast<unsigned char>(text[index + offset])];
                if (value < 0)
                    return std::nullopt;
            }
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        // Bits below the last encoded byte must be zero, so that every byte string has one encoding.
        if ((padding == 1 && (group & 0xff) != 0) || (padding == 2 && (group & 0xffff) != 0))
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2)
            bytes.push_back(static_cast<std::uint8_t>(group >> 8));
        if (padding < 1)
            bytes.push_back(static_cast<std::uint8_t>(group));
    }
    return bytes;
}

}  // namespace quillbridge
