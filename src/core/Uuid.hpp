#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillbridge {

// A 128-bit UUID. Its text is the 36-character 8-4-4-4-12 form, written upper-case and read in either case.
struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    static std::optional<Uuid> parse(std::string_view text);
    // A random (version 4, RFC 4122 variant) UUID from the secure random source.
    static Uuid random();

    std::string string() const;

    auto operator<=>(const Uuid&) const = default;
    bool operator==(const Uuid&) const = default;
};

}  // namespace quillbridge

template <>
struct std::hash<quillbridge::Uuid> {
    std::size_t operator()(const quillbridge::Uuid& uuid) const noexcept {
        std::size_t value = 0;
        for (auto byte : uuid.bytes)
            value = value * 131 + byte;
        return value;
    }
};
