#include "bridge/PersonaCameraFormatDescription.hpp"

#include <algorithm>

#include "bridge/LengthPrefixedNalUnits.hpp"

namespace quillbridge {
namespace {

int nalUnitType(const Bytes& unit, StreamCodec codec) {
    return codec == StreamCodec::hevc ? (unit[0] >> 1) & 0x3f : unit[0] & 0x1f;
}

bool hasUnitOfType(const std::vector<Bytes>& units, StreamCodec codec, int type) {
    return std::ranges::any_of(units, [&](const Bytes& unit) { return nalUnitType(unit, codec) == type; });
}

}  // namespace

std::expected<PersonaCameraFormatDescription, std::int32_t> PersonaCameraFormatDescription::make(
    const PersonaCameraFormatDescriptionMessage& message) {
    if (message.parameterSets.size() < 2) {
        return std::unexpected(invalidParameterStatus);
    }
    if (!LengthPrefixedNalUnits::isValidLengthFieldSize(message.nalUnitHeaderLength) ||
        std::ranges::any_of(message.parameterSets, [](const Bytes& set) { return set.empty(); })) {
        return std::unexpected(invalidParameterSetsStatus);
    }
    const StreamCodec codec = message.codec == StreamCodec::hevc ? StreamCodec::hevc : StreamCodec::h264;
    const bool complete = codec == StreamCodec::hevc ? hasUnitOfType(message.parameterSets, codec, 32) &&
                                                           hasUnitOfType(message.parameterSets, codec, 33) &&
                                                           hasUnitOfType(message.parameterSets, codec, 34)
                                                     : hasUnitOfType(message.parameterSets, codec, 7) &&
                                                           hasUnitOfType(message.parameterSets, codec, 8);
    if (!complete) {
        return std::unexpected(invalidParameterSetsStatus);
    }
    return PersonaCameraFormatDescription{codec, message.nalUnitHeaderLength, message.parameterSets};
}

}  // namespace quillbridge
