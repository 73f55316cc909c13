#include "wire/PropertyListReader.hpp"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include <plist/plist.h>

#include "core/UnicodeText.hpp"
#include "wire/PropertyListDictionaryBuilder.hpp"

namespace quillbridge {
namespace {

constexpr std::string_view binaryMagic = "bplist";

// Skips white space and a UTF-8 byte order mark.
std::string_view trimmedStart(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    while (!text.empty() &&
           (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n')) {
        text.remove_prefix(1);
    }
    return text;
}

bool looksLikeXml(std::string_view text) {
    text = trimmedStart(text);
    return text.starts_with("<?") || text.starts_with("<!") || text.starts_with("<plist");
}

// Where the markup that opens at `start` (a "<" that begins a tag, a processing instruction or a
// declaration) ends, just past its ">", as the XML parser reads it: a double-quoted section hides what it
// holds, a processing instruction runs to "?>", and a declaration to its first ">" or, with an internal
// subset, to "]>". Nothing when the markup is unterminated, when a tag holds a stray "<" (the parser
// refuses it), or when a tag name holds a quote or a quoted section holds "<", ">", "[" or "]": no property
// list has such text, and refusing it keeps our reading and the parser's from drifting apart.
std::optional<std::size_t> markupEnd(std::string_view text, std::size_t start) {
    enum class Kind { tag, instruction, declaration, subset } kind = Kind::tag;
    if (text.substr(start).starts_with("<?"))
        kind = Kind::instruction;
    else if (text.substr(start).starts_with("<!"))
        kind = Kind::declaration;
    bool inName = kind == Kind::tag;
    for (std::size_t index = start + 1; index < text.size(); ++index) {
        char c = text[index];
        if (c == '"') {
            if (inName)
                return std::nullopt;
            auto close = text.find('"', index + 1);
            if (close == std::string_view::npos ||
                text.substr(index + 1, close - index - 1).find_first_of("<>[]") != std::string_view::npos) {
                return std::nullopt;
            }
            index = close;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            inName = false;
        switch (kind) {
            case Kind::tag:
                if (c == '<')
                    return std::nullopt;
                if (c == '>')
                    return index + 1;
                break;
            case Kind::instruction:
                if (c == '?' && index + 1 < text.size() && text[index + 1] == '>')
                    return index + 2;
                break;
            case Kind::declaration:
                if (c == '[')
                    kind = Kind::subset;
                else if (c == '>')
                    return index + 1;
                break;
            case Kind::subset:
                if (c == ']' && index + 1 < text.size() && text[index + 1] == '>')
                    return index + 2;
                break;
        }
    }
    return std::nullopt;
}

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using OwnedPlist = std::unique_ptr<void, PlistDeleter>;

std::optional<PropertyListValue> fromPlistNode(plist_t node, std::size_t depth) {
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            std::uint8_t flag = 0;
            plist_get_bool_val(node, &flag);
            return PropertyListValue{flag != 0};
        }
        case PLIST_UINT: {
            // This library keeps every integer as its 64 bits and cannot tell a negative number from a
            // large unsigned one; negative numbers are the common case.
            std::uint64_t bits = 0;
            plist_get_uint_val(node, &bits);
            return PropertyListValue{static_cast<std::int64_t>(bits)};
        }
        case PLIST_REAL: {
            double number = 0;
            plist_get_real_val(node, &number);
            return PropertyListValue{number};
        }
        case PLIST_STRING: {
            std::uint64_t length = 0;
            const char* characters = plist_get_string_ptr(node, &length);
            std::string_view text = characters ? std::string_view(characters, length) : std::string_view();
            if (!isValidUtf8(text))
                return std::nullopt;
            return PropertyListValue{std::string(text)};
        }
        case PLIST_DATA: {
            std::uint64_t length = 0;
            const char* bytes = plist_get_data_ptr(node, &length);
            auto view = bytes ? asBytes(std::string_view(bytes, length)) : ByteView();
            return PropertyListValue{Bytes(view.begin(), view.end())};
        }
        case PLIST_DATE: {
            std::int32_t seconds = 0;
            std::int32_t microseconds = 0;
            plist_get_date_val(node, &seconds, &microseconds);
            return PropertyListValue{Date{seconds + microseconds / 1e6}};
        }
        case PLIST_UID: {
            std::uint64_t value = 0;
            plist_get_uid_val(node, &value);
            return PropertyListValue{PropertyListValue::Uid{value}};
        }
        case PLIST_ARRAY: {
            if (depth >= maximumPropertyListDepth)
                return std::nullopt;
            PropertyListValue::Array elements;
            std::uint32_t count = plist_array_get_size(node);
            elements.reserve(count);
            for (std::uint32_t index = 0; index < count; ++index) {
                auto element = fromPlistNode(plist_array_get_item(node, index), depth + 1);
                if (!element)
                    return std::nullopt;
                elements.push_back(std::move(*element));
            }
            return PropertyListValue{std::move(elements)};
        }
        case PLIST_DICT: {
            if (depth >= maximumPropertyListDepth)
                return std::nullopt;
            PropertyListDictionaryBuilder entries;
            plist_dict_iter iterator = nullptr;
            plist_dict_new_iter(node, &iterator);
            bool failed = false;
            while (iterator) {
                char* key = nullptr;
                plist_t item = nullptr;
                plist_dict_next_item(node, iterator, &key, &item);
                if (!key || !item) {
                    std::free(key);
                    break;
                }
                std::string name(key);
                std::free(key);
                auto value = isValidUtf8(name) ? fromPlistNode(item, depth + 1) : std::nullopt;
                if (!value) {
                    failed = true;
                    break;
                }
                entries.set(std::move(name), std::move(*value));
            }
            std::free(iterator);
            if (failed)
                return std::nullopt;
            return std::move(entries).build();
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

// Whether the element nesting of XML text stays within `limit`, counted from its tags the way the XML
// parser will read them, so that nothing deeper than we accept reaches the parser (which builds and frees
// its tree recursively). Comments and CDATA sections are skipped whole, as are processing instructions and
// declarations: a closing tag written inside any of them, or inside a quoted attribute, is no closing tag.
// False as well for markup the parser would refuse anyway.
bool detail::xmlNestingWithin(std::string_view text, std::size_t limit) {
    std::size_t depth = 0;
    for (std::size_t index = text.find('<'); index != std::string_view::npos; index = text.find('<', index)) {
        auto rest = text.substr(index);
        if (rest.starts_with("<!--") || rest.starts_with("<![CDATA[")) {
            bool comment = rest.starts_with("<!--");
            auto close = text.find(comment ? "-->" : "]]>", index + (comment ? 4 : 9));
            if (close == std::string_view::npos)
                return false;
            index = close + 3;
            continue;
        }
        auto end = markupEnd(text, index);
        if (!end)
            return false;
        if (rest.starts_with("</")) {
            if (depth > 0)
                --depth;
        } else if (!rest.starts_with("<?") && !rest.starts_with("<!") && text[*end - 2] != '/' &&
                   ++depth > limit) {
            return false;
        }
        index = *end;
    }
    return true;
}

void detail::appendUtf8(std::string& text, std::uint32_t scalar) {
    if (scalar < 0x80) {
        text += static_cast<char>(scalar);
    } else if (scalar < 0x800) {
        text += static_cast<char>(0xC0 | (scalar >> 6));
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    } else if (scalar < 0x10000) {
        text += static_cast<char>(0xE0 | (scalar >> 12));
        text += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (scalar >> 18));
        text += static_cast<char>(0x80 | ((scalar >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    }
}

std::optional<PropertyListValue> readXmlPropertyList(ByteView data) {
    std::string_view text = asText(data);
    if (text.size() > std::numeric_limits<std::uint32_t>::max() || !looksLikeXml(text))
        return std::nullopt;
    // The parser does not skip a byte order mark itself.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    // The element count includes <plist> and the innermost leaf element around the nested containers.
    if (!detail::xmlNestingWithin(text, maximumPropertyListDepth + 2))
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_xml(text.data(), static_cast<std::uint32_t>(text.size()), &root);
    if (!root)
        return std::nullopt;
    OwnedPlist owned(root);
    return fromPlistNode(root, 0);
}

std::optional<PropertyListValue> readPropertyList(ByteView data) {
    std::string_view text = asText(data);
    if (text.starts_with(binaryMagic))
        return readBinaryPropertyList(data);
    if (looksLikeXml(text))
        return readXmlPropertyList(data);
    return readTextPropertyList(data);
}

}  // namespace quillbridge
