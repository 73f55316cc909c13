#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "core/Json.hpp"

namespace quillbridge {

// Encodes the value to exactly `text`, and decodes `text` back to a value equal to it.
template <typename T>
void expectExactRoundTrip(const T& value, std::string_view text) {
    SCOPED_TRACE(std::string(text));
    auto encoded = encodeJson(value);
    ASSERT_TRUE(encoded.has_value()) << describe(encoded.error());
    EXPECT_EQ(*encoded, text);
    auto decoded = decodeJson<T>(text);
    ASSERT_TRUE(decoded.has_value()) << describe(decoded.error());
    EXPECT_TRUE(*decoded == value);
}

// The decoded value, recording a test failure (and giving a default value) when the text does not decode.
template <typename T>
T decodeOrFail(std::string_view text) {
    auto decoded = decodeJson<T>(text);
    EXPECT_TRUE(decoded.has_value()) << text << ": " << (decoded ? "" : describe(decoded.error()));
    return decoded.value_or(T{});
}

// The kind of error decoding the text gives, or nothing when it decodes.
template <typename T>
std::optional<JsonErrorKind> decodeErrorKind(std::string_view text) {
    auto decoded = decodeJson<T>(text);
    if (decoded)
        return std::nullopt;
    return decoded.error().kind;
}

}  // namespace quillbridge
