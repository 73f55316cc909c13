#include "platform/linux/video/AnnexBAccessUnit.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace quillbridge {
namespace {

// Position of the next 00 00 01 at or after `from`, or the size when there is none.
std::size_t findStartCode(ByteView data, std::size_t from) {
    for (std::size_t index = from; index + 3 <= data.size(); ++index) {
        if (data[index] == 0 && data[index + 1] == 0 && data[index + 2] == 1)
            return index;
    }
    return data.size();
}

// Rank of a parameter set in the format's order, or nothing for other units; whether the unit is dropped.
struct NalRole {
    int parameterSetRank = -1;
    bool isDelimiter = false;
};

NalRole roleOf(std::uint8_t firstByte, StreamCodec codec) {
    if (codec == StreamCodec::h264) {
        switch (firstByte & 0x1F) {
            case 7:
                return {0, false};
            case 8:
                return {1, false};
            case 9:
                return {-1, true};
            default:
                return {};
        }
    }
    switch ((firstByte >> 1) & 0x3F) {
        case 32:
            return {0, false};
        case 33:
            return {1, false};
        case 34:
            return {2, false};
        case 35:
            return {-1, true};
        default:
            return {};
    }
}

}  // namespace

std::vector<ByteView> AnnexBAccessUnit::splitNalUnits(ByteView annexB) {
    std::vector<ByteView> units;
    std::size_t start = findStartCode(annexB, 0);
    while (start < annexB.size()) {
        const std::size_t begin = start + 3;
        const std::size_t next = findStartCode(annexB, begin);
        std::size_t end = next;
        // Zeros in front of the next start code (the leading zero of a 4-byte start code, or trailing zero
        // bytes) belong to no unit.
        while (end > begin && annexB[end - 1] == 0)
            --end;
        if (end > begin)
            units.push_back(annexB.subspan(begin, end - begin));
        start = next;
    }
    return units;
}

AnnexBAccessUnit AnnexBAccessUnit::fromAnnexB(ByteView annexB, StreamCodec codec) {
    AnnexBAccessUnit unit;
    std::array<std::vector<Bytes>, 3> parameterSetsByRank;
    for (auto nal : splitNalUnits(annexB)) {
        const auto role = roleOf(nal[0], codec);
        if (role.isDelimiter)
            continue;
        if (role.parameterSetRank >= 0) {
            parameterSetsByRank[static_cast<std::size_t>(role.parameterSetRank)].emplace_back(nal.begin(),
                                                                                              nal.end());
            continue;
        }
        const auto length = static_cast<std::uint32_t>(nal.size());
        const std::array<std::uint8_t, 4> prefix{
            static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
        unit.payload.insert(unit.payload.end(), prefix.begin(), prefix.end());
        unit.payload.insert(unit.payload.end(), nal.begin(), nal.end());
    }
    for (auto& sets : parameterSetsByRank) {
        for (auto& set : sets)
            unit.parameterSets.push_back(std::move(set));
    }
    return unit;
}

}  // namespace quillbridge
