#include "input/ClipboardURL.hpp"

#include <cstddef>

namespace quillbridge {
namespace {

bool isAsciiLetter(char character) {
    return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z');
}

bool isAsciiDigit(char character) {
    return character >= '0' && character <= '9';
}

bool equalsIgnoringAsciiCase(std::string_view left, std::string_view right) {
    if (left.size() != right.size())
        return false;
    for (std::size_t index = 0; index < left.size(); ++index) {
        auto lower = [](char character) {
            return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a')
                                                        : character;
        };
        if (lower(left[index]) != lower(right[index]))
            return false;
    }
    return true;
}

std::optional<int> hexValue(char character) {
    if (isAsciiDigit(character))
        return character - '0';
    if (character >= 'a' && character <= 'f')
        return character - 'a' + 10;
    if (character >= 'A' && character <= 'F')
        return character - 'A' + 10;
    return std::nullopt;
}

std::optional<std::string> percentDecoded(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t index = 0; index < text.size(); ++index) {
        if (text[index] != '%') {
            decoded.push_back(text[index]);
            continue;
        }
        if (index + 2 >= text.size())
            return std::nullopt;
        auto high = hexValue(text[index + 1]);
        auto low = hexValue(text[index + 2]);
        if (!high || !low)
            return std::nullopt;
        char value = static_cast<char>(*high * 16 + *low);
        if (value == '\0')
            return std::nullopt;
        decoded.push_back(value);
        index += 2;
    }
    return decoded;
}

}  // namespace

std::optional<std::string_view> ClipboardURL::scheme(std::string_view text) {
    if (text.empty() || !isAsciiLetter(text.front()))
        return std::nullopt;
    for (std::size_t index = 1; index < text.size(); ++index) {
        char character = text[index];
        if (character == ':')
            return text.substr(0, index);
        if (!isAsciiLetter(character) && !isAsciiDigit(character) && character != '+' && character != '-' &&
            character != '.')
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> ClipboardURL::linkString(std::string_view text) {
    auto found = scheme(text);
    if (!found || equalsIgnoringAsciiCase(*found, "file"))
        return std::nullopt;
    for (char character : text) {
        auto byte = static_cast<unsigned char>(character);
        if (byte <= 0x20 || byte >= 0x7F)
            return std::nullopt;
    }
    return std::string(text);
}

bool ClipboardURL::isFileURL(std::string_view text) {
    auto found = scheme(text);
    return found && equalsIgnoringAsciiCase(*found, "file");
}

std::optional<std::filesystem::path> ClipboardURL::filePath(std::string_view url) {
    if (!isFileURL(url))
        return std::nullopt;
    std::string_view rest = url.substr(5);  // after "file:"
    for (char character : rest) {
        auto byte = static_cast<unsigned char>(character);
        if (byte < 0x20 || byte == 0x7F)
            return std::nullopt;
    }
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        auto slash = rest.find('/');
        if (slash == std::string_view::npos)
            return std::nullopt;
        auto host = rest.substr(0, slash);
        if (!host.empty() && !equalsIgnoringAsciiCase(host, "localhost"))
            return std::nullopt;
        rest.remove_prefix(slash);
    }
    if (!rest.starts_with('/'))
        return std::nullopt;
    // A query or fragment is not part of the path.
    rest = rest.substr(0, rest.find_first_of("?#"));
    auto decoded = percentDecoded(rest);
    if (!decoded)
        return std::nullopt;
    return std::filesystem::path(*decoded);
}

std::string ClipboardURL::fileURLString(const std::filesystem::path& path) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (char character : path.native()) {
        auto byte = static_cast<unsigned char>(character);
        if (isAsciiLetter(character) || isAsciiDigit(character) || character == '-' || character == '.' ||
            character == '_' || character == '~' || character == '/') {
            url.push_back(character);
        } else {
            url.push_back('%');
            url.push_back(digits[byte >> 4]);
            url.push_back(digits[byte & 0x0F]);
        }
    }
    return url;
}

}  // namespace quillbridge
