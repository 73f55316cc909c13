#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "core/Json.hpp"

namespace quillbridge {

// Enumerations of the wire vocabulary whose raw values are strings, listed once in a JsonEnumCases table
// in declaration order. Everything below works from that table.
template <typename E>
concept StringRawValueEnumeration = HasJsonEnumCases<E> &&
    std::is_same_v<std::remove_cvref_t<decltype(JsonEnumCases<E>::cases[0].second)>, std::string_view>;

// One row of a raw-value table.
template <typename E>
constexpr std::pair<E, std::string_view> rawCase(E value, std::string_view raw) {
    return {value, raw};
}

// True when the table lists every case once, in declaration order (so a case's position is its
// underlying value), with distinct raw values. Checked at compile time next to each table.
template <StringRawValueEnumeration E>
consteval bool isWellFormedRawValueTable() {
    const auto& cases = JsonEnumCases<E>::cases;
    for (std::size_t index = 0; index < cases.size(); ++index) {
        if (static_cast<std::size_t>(cases[index].first) != index || cases[index].second.empty())
            return false;
        for (std::size_t other = 0; other < index; ++other) {
            if (cases[other].second == cases[index].second)
                return false;
        }
    }
    return true;
}

// The case's raw value: its name on the wire.
template <StringRawValueEnumeration E>
constexpr std::string_view rawValue(E value) {
    return jsonRawValue(value);
}

// The case whose raw value is exactly `raw` (case-sensitive), or nothing.
template <StringRawValueEnumeration E>
constexpr std::optional<E> enumFromRawValue(std::string_view raw) {
    for (const auto& [value, name] : JsonEnumCases<E>::cases) {
        if (name == raw)
            return value;
    }
    return std::nullopt;
}

// Every case, in declaration order.
template <StringRawValueEnumeration E>
constexpr auto allEnumCases() {
    constexpr auto& cases = JsonEnumCases<E>::cases;
    std::array<E, cases.size()> values{};
    for (std::size_t index = 0; index < cases.size(); ++index)
        values[index] = cases[index].first;
    return values;
}

}  // namespace quillbridge
