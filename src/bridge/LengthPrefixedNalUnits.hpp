#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/Bytes.hpp"

namespace quillbridge {

// NAL units as the headset sends them: each behind a big-endian length of 1, 2 or 4 bytes. Turned into the
// Annex B byte stream a decoder reads (each unit behind a 00 00 00 01 start code).
class LengthPrefixedNalUnits {
public:
    static bool isValidLengthFieldSize(std::int32_t lengthFieldSize) {
        return lengthFieldSize == 1 || lengthFieldSize == 2 || lengthFieldSize == 4;
    }

    // The units of `payload` in Annex B form. Nothing when the length field size is not 1, 2 or 4, the
    // payload is empty, a unit is empty, or a length (or the length field itself) runs past the end of the
    // payload.
    static std::optional<Bytes> toAnnexB(ByteView payload, std::int32_t lengthFieldSize);

    // Units given one by one (parameter sets) in Annex B form, in the order given.
    static Bytes annexBFromUnits(const std::vector<Bytes>& units);
};

}  // namespace quillbridge
