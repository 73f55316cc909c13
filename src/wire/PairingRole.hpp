#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string_view>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// Which side of a pairing this device is. The host always runs as `mac`. The raw value, followed by ".",
// prefixes the names the peer store persists under, and it names the side in the SPAKE2 identities.
enum class PairingRole { mac, visionPro };

template <>
struct JsonEnumCases<PairingRole> {
    using enum PairingRole;
    static constexpr std::array cases{
        rawCase(mac, "mac"),
        rawCase(visionPro, "visionPro"),
    };
};
static_assert(isWellFormedRawValueTable<PairingRole>());

}  // namespace quillbridge

// A role hashes as its raw value.
template <>
struct std::hash<quillbridge::PairingRole> {
    std::size_t operator()(quillbridge::PairingRole role) const noexcept {
        return std::hash<std::string_view>{}(quillbridge::rawValue(role));
    }
};
