#include "bridge/LengthPrefixedNalUnits.hpp"

#include <array>

namespace quillbridge {
namespace {

constexpr std::array<std::uint8_t, 4> startCode{0, 0, 0, 1};

}  // namespace

std::optional<Bytes> LengthPrefixedNalUnits::toAnnexB(ByteView payload, std::int32_t lengthFieldSize) {
    if (!isValidLengthFieldSize(lengthFieldSize) || payload.empty()) {
        return std::nullopt;
    }
    const auto fieldSize = static_cast<std::size_t>(lengthFieldSize);
    // A start code is never longer than a 4-byte length, and a shorter length adds at most 3 bytes a unit:
    // reserve for the worst case of the smallest units only when the field is short.
    Bytes annexB;
    annexB.reserve(payload.size() +
                   (fieldSize < startCode.size() ? payload.size() / (fieldSize + 1) * 3 : 0));
    std::size_t position = 0;
    while (position < payload.size()) {
        const std::size_t remaining = payload.size() - position;
        if (remaining < fieldSize) {
            return std::nullopt;
        }
        std::size_t length = 0;
        for (std::size_t index = 0; index < fieldSize; ++index) {
            length = (length << 8) | payload[position + index];
        }
        position += fieldSize;
        if (length == 0 || length > payload.size() - position) {
            return std::nullopt;
        }
        annexB.insert(annexB.end(), startCode.begin(), startCode.end());
        annexB.insert(annexB.end(), payload.begin() + static_cast<std::ptrdiff_t>(position),
                      payload.begin() + static_cast<std::ptrdiff_t>(position + length));
        position += length;
    }
    return annexB;
}

Bytes LengthPrefixedNalUnits::annexBFromUnits(const std::vector<Bytes>& units) {
    Bytes annexB;
    for (const auto& unit : units) {
        annexB.insert(annexB.end(), startCode.begin(), startCode.end());
        annexB.insert(annexB.end(), unit.begin(), unit.end());
    }
    return annexB;
}

}  // namespace quillbridge
