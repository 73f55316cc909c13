#include "wire/PropertyListValue.hpp"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "core/Base64.hpp"
#include "core/UnicodeText.hpp"

namespace quillbridge {
namespace {

template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <typename... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

std::string shortestDecimal(double number) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    return std::string(buffer, result.ptr);
}

// Dates read back as the same double, and always show a fraction or an exponent: 0.0, 1.5, 1e+20.
std::string dateDecimal(double seconds) {
    std::string text = shortestDecimal(seconds);
    if (text.find_first_of(".eni") == std::string::npos)
        text += ".0";
    return text;
}

void append(std::string& text, const PropertyListValue& value);

void appendDictionary(std::string& text, const PropertyListValue::Dictionary& entries) {
    // Sorted by the code points of the keys' canonical decompositions (byte order of UTF-8 is code-point
    // order); keys that decompose alike keep a fixed order through their own bytes.
    std::vector<std::pair<std::string, const PropertyListValue::Dictionary::value_type*>> sorted;
    sorted.reserve(entries.size());
    for (const auto& entry : entries)
        sorted.emplace_back(canonicalDecomposition(entry.first), &entry);
    std::sort(sorted.begin(), sorted.end(), [](const auto& left, const auto& right) {
        if (left.first != right.first)
            return left.first < right.first;
        return left.second->first < right.second->first;
    });
    text += '{';
    bool first = true;
    for (const auto& [sortKey, entry] : sorted) {
        if (!first)
            text += ',';
        first = false;
        text += entry->first;
        text += '=';
        append(text, entry->second);
    }
    text += '}';
}

void append(std::string& text, const PropertyListValue& value) {
    std::visit(Overloaded{
                   [&](const std::string& string) { text += "s:" + string; },
                   [&](bool flag) { text += flag ? "n:1" : "n:0"; },
                   [&](std::int64_t number) { text += "n:" + std::to_string(number); },
                   [&](std::uint64_t number) { text += "n:" + std::to_string(number); },
                   [&](double number) { text += "n:" + shortestDecimal(number); },
                   [&](const Bytes& data) { text += "d:" + encodeBase64(data); },
                   [&](const Date& date) { text += "t:" + dateDecimal(date.secondsSinceReferenceDate); },
                   [&](const PropertyListValue::Array& elements) {
                       text += '[';
                       for (std::size_t index = 0; index < elements.size(); ++index) {
                           if (index > 0)
                               text += ',';
                           append(text, elements[index]);
                       }
                       text += ']';
                   },
                   [&](const PropertyListValue::Dictionary& entries) { appendDictionary(text, entries); },
                   [&](const PropertyListValue::Uid& uid) { text += "uid:" + std::to_string(uid.value); },
               },
               value.storage);
}

}  // namespace

PropertyListValue::PropertyListValue() = default;
PropertyListValue::PropertyListValue(const PropertyListValue& other) = default;
PropertyListValue::PropertyListValue(PropertyListValue&& other) noexcept = default;
PropertyListValue& PropertyListValue::operator=(const PropertyListValue& other) = default;
PropertyListValue& PropertyListValue::operator=(PropertyListValue&& other) noexcept = default;
PropertyListValue::~PropertyListValue() = default;

std::string canonicalPropertyListDescription(const PropertyListValue& value) {
    std::string text;
    append(text, value);
    return text;
}

}  // namespace quillbridge
