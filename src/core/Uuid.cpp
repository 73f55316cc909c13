#include "core/Uuid.hpp"

#include "core/HexDigit.hpp"
#include "core/SecureRandom.hpp"

namespace quillbridge {
namespace {

bool isDashPosition(std::size_t index) {
    return index == 8 || index == 13 || index == 18 || index == 23;
}

}  // namespace

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36)
        return std::nullopt;
    Uuid uuid;
    std::size_t byteIndex = 0;
    for (std::size_t index = 0; index < text.size();) {
        if (isDashPosition(index)) {
            if (text[index] != '-')
                return std::nullopt;
            ++index;
            continue;
        }
        int high = hexDigitValue(text[index]);
        int low = hexDigitValue(text[index + 1]);
        if (high < 0 || low < 0 || isDashPosition(index + 1))
            return std::nullopt;
        uuid.bytes[byteIndex++] = static_cast<std::uint8_t>(high << 4 | low);
        index += 2;
    }
    return uuid;
}

Uuid Uuid::random() {
    Uuid uuid;
    fillSecureRandom(uuid.bytes);
    uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0f) | 0x40);
    uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3f) | 0x80);
    return uuid;
}

std::string Uuid::string() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        if (index == 4 || index == 6 || index == 8 || index == 10)
            text.push_back('-');
        text.push_back(digits[bytes[index] >> 4]);
        text.push_back(digits[bytes[index] & 0x0f]);
    }
    return text;
}

}  // namespace quillbridge
