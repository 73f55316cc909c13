#include "pairing/DERWriter.hpp"

#include <cmath>
#include <ctime>
#include <string>

namespace quillbridge {

Bytes DERWriter::derLength(std::size_t length) {
    if (length < 0x80)
        return Bytes{static_cast<std::uint8_t>(length)};
    Bytes digits;
    for (std::size_t rest = length; rest != 0; rest >>= 8) {
        digits.insert(digits.begin(), static_cast<std::uint8_t>(rest & 0xFF));
    }
    Bytes encoded{static_cast<std::uint8_t>(0x80 + digits.size())};
    appendBytes(encoded, digits);
    return encoded;
}

Bytes DERWriter::derElement(std::uint8_t tag, ByteView content) {
    Bytes encoded{tag};
    appendBytes(encoded, derLength(content.size()));
    appendBytes(encoded, content);
    return encoded;
}

Bytes DERWriter::derConstructed(std::uint8_t tag, std::span<const Bytes> elements) {
    Bytes content;
    for (const auto& element : elements)
        appendBytes(content, element);
    return derElement(tag, content);
}

Bytes DERWriter::derUnsignedInteger(ByteView magnitude) {
    std::size_t first = 0;
    while (first < magnitude.size() && magnitude[first] == 0)
        ++first;
    Bytes content;
    if (first == magnitude.size() || (magnitude[first] & 0x80) != 0)
        content.push_back(0x00);
    content.insert(content.end(), magnitude.begin() + static_cast<std::ptrdiff_t>(first), magnitude.end());
    return derElement(integer, content);
}

Bytes DERWriter::derUTF8String(std::string_view text) {
    return derElement(utf8String, asBytes(text));
}

Bytes DERWriter::derUTCTime(Date date) {
    auto seconds = static_cast<std::time_t>(std::floor(date.unixSeconds()));
    std::tm parts{};
    ::gmtime_r(&seconds, &parts);
    char text[32];
    std::size_t length = std::strftime(text, sizeof text, "%y%m%d%H%M%SZ", &parts);
    return derElement(utcTime, asBytes(std::string_view(text, length)));
}

Bytes DERWriter::derTime(Date date) {
    auto seconds = static_cast<std::time_t>(std::floor(date.unixSeconds()));
    std::tm parts{};
    ::gmtime_r(&seconds, &parts);
    int year = parts.tm_year + 1900;
    if (year >= 1950 && year <= 2049)
        return derUTCTime(date);
    char text[32];
    std::size_t length = std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &parts);
    return derElement(generalizedTime, asBytes(std::string_view(text, length)));
}

Bytes DERWriter::derName(std::string_view commonName) {
    static constexpr std::uint8_t commonNameOID[] = {0x55, 0x04, 0x03};
    Bytes attribute =
        derConstructed(sequence, {derElement(objectIdentifier, commonNameOID), derUTF8String(commonName)});
    return derConstructed(sequence, {derConstructed(set, {attribute})});
}

}  // namespace quillbridge
