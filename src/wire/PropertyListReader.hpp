#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.hpp"
#include "wire/PropertyListValue.hpp"

namespace quillbridge {

// Arrays and dictionaries nest at most this deep; deeper data is refused.
inline constexpr std::size_t maximumPropertyListDepth = 64;

// Reads a serialised property list in whichever form it has: binary ("bplist00"), XML, or the old text
// form. Returns nothing when the data is none of them, is malformed, nests too deep, or has a dictionary
// key that is not a string. Never throws. Work and memory are bounded by the size of the data.
std::optional<PropertyListValue> readPropertyList(ByteView data);

// The three forms one by one.
std::optional<PropertyListValue> readBinaryPropertyList(ByteView data);
std::optional<PropertyListValue> readXmlPropertyList(ByteView data);
// The old text form: strings (quoted or bare), <hex data>, ( arrays ) and { key = value; } dictionaries,
// with // and /* */ comments. It has no numbers, booleans or dates: everything else is a string.
std::optional<PropertyListValue> readTextPropertyList(ByteView data);

namespace detail {
// Appends one Unicode scalar value (not a surrogate) as UTF-8.
void appendUtf8(std::string& text, std::uint32_t scalar);
// Whether the element nesting of XML text, as the XML reader's parser will see it, stays within `limit`
// (false also for markup that parser refuses). The XML reader checks this before it parses.
bool xmlNestingWithin(std::string_view text, std::size_t limit);
}  // namespace detail

}  // namespace quillbridge
