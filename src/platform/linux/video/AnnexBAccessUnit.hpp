#pragma once

#include <vector>

#include "core/Bytes.hpp"
#include "wire/StreamCodec.hpp"

namespace quillbridge {

// One encoded picture taken apart from the encoder's Annex B output (NAL units behind 00 00 01 or
// 00 00 00 01 start codes).
struct AnnexBAccessUnit {
    // The picture's NAL units, each behind a 4-byte big-endian length. Parameter sets and access unit
    // delimiters are not in it.
    Bytes payload;
    // Parameter sets the output carried, without start codes, in the order a format lists them (H.264: SPS,
    // PPS; HEVC: VPS, SPS, PPS); empty when there were none.
    std::vector<Bytes> parameterSets;

    // Splits `annexB` into its NAL units. Trailing zero bytes before a start code are not part of a unit;
    // empty units are skipped.
    static std::vector<ByteView> splitNalUnits(ByteView annexB);
    static AnnexBAccessUnit fromAnnexB(ByteView annexB, StreamCodec codec);
};

}  // namespace quillbridge
