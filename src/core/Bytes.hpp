#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillbridge {

// An owned byte buffer with value semantics, and a read-only view of one (which may be a slice).
using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline ByteView asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline Bytes toBytes(std::string_view text) {
    auto view = asBytes(text);
    return Bytes(view.begin(), view.end());
}

inline std::string_view asText(ByteView bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

inline void appendBytes(Bytes& buffer, ByteView bytes) {
    buffer.insert(buffer.end(), bytes.begin(), bytes.end());
}

// Lower-case hexadecimal, for logs of non-secret values and for test fixtures.
std::string toHex(ByteView bytes);
// Reads hexadecimal digits (either case); white space between bytes is allowed. Nothing on a bad digit.
std::optional<Bytes> fromHex(std::string_view text);

}  // namespace quillbridge
