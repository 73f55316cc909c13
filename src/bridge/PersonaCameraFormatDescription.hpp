#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "core/Bytes.hpp"
#include "wire/PersonaCameraFormatDescriptionMessage.hpp"
#include "wire/StreamCodec.hpp"

namespace quillbridge {

// The video format of the headset's Persona camera, built from its format message: the codec, the size of
// the NAL unit length fields in each frame and the parameter sets (H.264: SPS and PPS; HEVC: VPS, SPS and
// PPS). Two descriptions are equal when all three are.
struct PersonaCameraFormatDescription {
    // Statuses of a refused format message.
    static constexpr std::int32_t invalidParameterStatus = -50;
    static constexpr std::int32_t invalidParameterSetsStatus = -12710;

    StreamCodec codec = StreamCodec::h264;
    std::int32_t nalUnitHeaderLength = 4;
    std::vector<Bytes> parameterSets;

    // The description of the message, or the status of why none can be built: `invalidParameterStatus` for
    // fewer than two parameter sets, `invalidParameterSetsStatus` for a length field size other than 1, 2
    // or 4, an empty parameter set, or parameter sets that lack one the codec needs. The message's width and
    // height are not used (the parameter sets carry the size).
    static std::expected<PersonaCameraFormatDescription, std::int32_t> make(
        const PersonaCameraFormatDescriptionMessage& message);

    bool operator==(const PersonaCameraFormatDescription&) const = default;
};

}  // namespace quillbridge
