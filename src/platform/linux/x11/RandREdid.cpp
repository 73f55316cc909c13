#include "platform/linux/x11/RandREdid.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include <nettle/sha1.h>

namespace quillbridge::randrEdid {

namespace {

constexpr std::size_t baseBlockSize = 128;
constexpr std::array<std::uint8_t, 8> edidHeader{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
// The namespace of display UUIDs (a fixed random UUID of this program).
constexpr std::array<std::uint8_t, 16> displayNamespace{0x6B, 0x1D, 0x3E, 0x52, 0x8C, 0x47, 0x4F, 0x0B,
                                                        0x9A, 0x21, 0x5E, 0x7C, 0x33, 0xD0, 0x46, 0xA9};

bool isBaseBlock(std::span<const std::uint8_t> edid) {
    return edid.size() >= baseBlockSize && std::equal(edidHeader.begin(), edidHeader.end(), edid.begin());
}

}  // namespace

std::string monitorName(std::span<const std::uint8_t> edid) {
    if (!isBaseBlock(edid)) {
        return {};
    }
    for (std::size_t descriptor = 54; descriptor + 18 <= 126; descriptor += 18) {
        const auto* bytes = edid.data() + descriptor;
        if (bytes[0] != 0 || bytes[1] != 0 || bytes[3] != 0xFC) {
            continue;
        }
        std::string name;
        for (std::size_t index = 5; index < 18 && bytes[index] != 0x0A && bytes[index] != 0; ++index) {
            const char character = static_cast<char>(bytes[index]);
            name.push_back(character >= 0x20 && character < 0x7F ? character : '?');
        }
        while (!name.empty() && name.back() == ' ') {
            name.pop_back();
        }
        return name;
    }
    return {};
}

Uuid nameBasedUuid(std::span<const std::uint8_t> name) {
    sha1_ctx context;
    sha1_init(&context);
    sha1_update(&context, displayNamespace.size(), displayNamespace.data());
    sha1_update(&context, name.size(), name.data());
    std::array<std::uint8_t, SHA1_DIGEST_SIZE> digest{};
    sha1_digest(&context, digest.size(), digest.data());
    Uuid uuid;
    std::copy_n(digest.begin(), 16, uuid.bytes.begin());
    uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0F) | 0x50);
    uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3F) | 0x80);
    return uuid;
}

Uuid displayUuid(std::span<const std::uint8_t> edid, std::string_view connectorName) {
    if (isBaseBlock(edid)) {
        return nameBasedUuid(edid.first(baseBlockSize));
    }
    std::vector<std::uint8_t> name{'o', 'u', 't', 'p', 'u', 't', ':'};
    name.insert(name.end(), connectorName.begin(), connectorName.end());
    return nameBasedUuid(name);
}

}  // namespace quillbridge::randrEdid
