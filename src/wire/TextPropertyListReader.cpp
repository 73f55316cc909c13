// Reader of the old text form of property lists:
//   value      = string | data | array | dictionary
//   string     = "quoted, with \\ escapes" | bare run of letters, digits and _ $ / : . -
//   data       = < hexadecimal digits, white space allowed >
//   array      = ( value, value, ... )            a trailing comma is allowed
//   dictionary = { key = value; key = value; }    keys are strings; the last ";" may be left out
// with white space, // line comments and /* block comments */ between tokens. Nesting is bounded.

#include "wire/PropertyListReader.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/UnicodeText.hpp"
#include "wire/PropertyListDictionaryBuilder.hpp"

namespace quillbridge {
namespace {

bool isBareCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '/' || c == ':' || c == '.' || c == '-';
}

std::optional<std::uint8_t> hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<std::uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<std::uint8_t>(c - 'A' + 10);
    return std::nullopt;
}

class TextReader {
public:
    explicit TextReader(std::string_view text) : text_(text) {}

    std::optional<PropertyListValue> read() {
        if (text_.starts_with("\xEF\xBB\xBF"))
            position_ = 3;
        if (!isValidUtf8(text_.substr(position_)))
            return std::nullopt;
        auto value = readValue(0);
        if (!value || !skipSpace() || position_ != text_.size())
            return std::nullopt;
        return value;
    }

private:
    std::string_view text_;
    std::size_t position_ = 0;

    bool atEnd() const { return position_ >= text_.size(); }
    char peek() const { return text_[position_]; }

    // Skips white space and comments; false on an unterminated block comment.
    bool skipSpace() {
        while (!atEnd()) {
            char c = peek();
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
                ++position_;
            } else if (text_.substr(position_).starts_with("//")) {
                auto end = text_.find('\n', position_);
                position_ = end == std::string_view::npos ? text_.size() : end + 1;
            } else if (text_.substr(position_).starts_with("/*")) {
                auto end = text_.find("*/", position_ + 2);
                if (end == std::string_view::npos)
                    return false;
                position_ = end + 2;
            } else {
                break;
            }
        }
        return true;
    }

    bool expect(char c) {
        if (!skipSpace() || atEnd() || peek() != c)
            return false;
        ++position_;
        return true;
    }

    std::optional<PropertyListValue> readValue(std::size_t depth) {
        if (!skipSpace() || atEnd())
            return std::nullopt;
        char c = peek();
        if (c == '{')
            return readDictionary(depth);
        if (c == '(')
            return readArray(depth);
        if (c == '<')
            return readData();
        auto string = readString();
        if (!string)
            return std::nullopt;
        return PropertyListValue{std::move(*string)};
    }

    std::optional<std::string> readString() {
        if (!skipSpace() || atEnd())
            return std::nullopt;
        if (peek() == '"')
            return readQuoted();
        std::size_t start = position_;
        while (!atEnd() && isBareCharacter(peek()))
            ++position_;
        if (position_ == start)
            return std::nullopt;
        return std::string(text_.substr(start, position_ - start));
    }

    std::optional<std::string> readQuoted() {
        ++position_;  // opening quote
        std::string result;
        while (!atEnd()) {
            char c = text_[position_++];
            if (c == '"')
                return result;
            if (c != '\\') {
                result += c;
                continue;
            }
            if (atEnd())
                return std::nullopt;
            char escaped = text_[position_++];
            switch (escaped) {
                case 'a':
                    result += '\a';
                    break;
                case 'b':
                    result += '\b';
                    break;
                case 'f':
                    result += '\f';
                    break;
                case 'n':
                    result += '\n';
                    break;
                case 'r':
                    result += '\r';
                    break;
                case 't':
                    result += '\t';
                    break;
                case 'v':
                    result += '\v';
                    break;
                case 'U':
                case 'u': {
                    auto scalar = readUnicodeEscape();
                    if (!scalar)
                        return std::nullopt;
                    detail::appendUtf8(result, *scalar);
                    break;
                }
                default:
                    if (escaped >= '0' && escaped <= '7') {
                        // Up to three octal digits; only the ASCII range has a meaning we can vouch for.
                        unsigned value = static_cast<unsigned>(escaped - '0');
                        for (int digit = 0; digit < 2 && !atEnd() && peek() >= '0' && peek() <= '7';
                             ++digit) {
                            value = value * 8 + static_cast<unsigned>(text_[position_++] - '0');
                        }
                        if (value >= 0x80)
                            return std::nullopt;
                        result += static_cast<char>(value);
                    } else {
                        result += escaped;  // \" \\ \' and any other character stand for themselves
                    }
            }
        }
        return std::nullopt;  // unterminated
    }

    // \U followed by up to four hexadecimal digits: one UTF-16 unit; a surrogate pair takes two escapes.
    std::optional<std::uint32_t> readUtf16Unit() {
        std::uint32_t unit = 0;
        int digits = 0;
        while (digits < 4 && !atEnd()) {
            auto digit = hexDigit(peek());
            if (!digit)
                break;
            unit = unit * 16 + *digit;
            ++position_;
            ++digits;
        }
        if (digits == 0)
            return std::nullopt;
        return unit;
    }

    std::optional<std::uint32_t> readUnicodeEscape() {
        auto unit = readUtf16Unit();
        if (!unit)
            return std::nullopt;
        if (*unit >= 0xDC00 && *unit <= 0xDFFF)
            return std::nullopt;
        if (*unit < 0xD800 || *unit > 0xDBFF)
            return unit;
        auto rest = text_.substr(position_);
        if (!rest.starts_with("\\U") && !rest.starts_with("\\u"))
            return std::nullopt;
        position_ += 2;
        auto low = readUtf16Unit();
        if (!low || *low < 0xDC00 || *low > 0xDFFF)
            return std::nullopt;
        return 0x10000 + ((*unit - 0xD800) << 10) + (*low - 0xDC00);
    }

    std::optional<PropertyListValue> readData() {
        ++position_;  // <
        Bytes bytes;
        std::optional<std::uint8_t> high;
        while (true) {
            if (!skipSpace() || atEnd())
                return std::nullopt;
            char c = text_[position_++];
            if (c == '>')
                break;
            auto digit = hexDigit(c);
            if (!digit)
                return std::nullopt;
            if (high) {
                bytes.push_back(static_cast<std::uint8_t>(*high << 4 | *digit));
                high.reset();
            } else {
                high = digit;
            }
        }
        if (high)
            return std::nullopt;  // odd number of digits
        return PropertyListValue{std::move(bytes)};
    }

    std::optional<PropertyListValue> readArray(std::size_t depth) {
        if (depth >= maximumPropertyListDepth)
            return std::nullopt;
        ++position_;  // (
        PropertyListValue::Array elements;
        while (true) {
            if (!skipSpace() || atEnd())
                return std::nullopt;
            if (peek() == ')') {
                ++position_;
                break;
            }
            auto element = readValue(depth + 1);
            if (!element)
                return std::nullopt;
            elements.push_back(std::move(*element));
            if (!skipSpace() || atEnd())
                return std::nullopt;
            if (peek() == ',') {
                ++position_;
            } else if (peek() != ')') {
                return std::nullopt;
            }
        }
        return PropertyListValue{std::move(elements)};
    }

    std::optional<PropertyListValue> readDictionary(std::size_t depth) {
        if (depth >= maximumPropertyListDepth)
            return std::nullopt;
        ++position_;  // {
        PropertyListDictionaryBuilder entries;
        while (true) {
            if (!skipSpace() || atEnd())
                return std::nullopt;
            if (peek() == '}') {
                ++position_;
                break;
            }
            auto key = readString();
            if (!key || !expect('='))
                return std::nullopt;
            auto value = readValue(depth + 1);
            if (!value || !skipSpace() || atEnd())
                return std::nullopt;
            if (peek() == ';') {
                ++position_;
            } else if (peek() != '}') {
                return std::nullopt;
            }
            entries.set(std::move(*key), std::move(*value));
        }
        return std::move(entries).build();
    }
};

}  // namespace

std::optional<PropertyListValue> readTextPropertyList(ByteView data) {
    return TextReader(asText(data)).read();
}

}  // namespace quillbridge
