#pragma once

#include <cstdint>

#include "core/Bytes.hpp"

namespace quillbridge {

// The MPEG-4 ES_Descriptor of an audio stream (ISO/IEC 14496-1), as the body of an MP4 'esds' box holds it
// and as an AAC converter reports its magic cookie:
//   ES_Descriptor (tag 3): ES_ID, flags 0,
//     DecoderConfigDescriptor (tag 4): object type 0x40 (MPEG-4 audio), stream type 5 (audio), buffer size,
//       maximum and average bit rate,
//       DecoderSpecificInfo (tag 5): the AudioSpecificConfig,
//     SLConfigDescriptor (tag 6): predefined 2.
// The bytes depend on the fields alone, so equal fields always give byte-identical descriptors.
struct ElementaryStreamDescriptor {
    static constexpr std::uint8_t mpeg4AudioObjectTypeIndication = 0x40;
    static constexpr std::uint8_t audioStreamType = 0x05;
    static constexpr std::uint8_t predefinedSLConfig = 0x02;
    // bufferSizeDB is a 24-bit field.
    static constexpr std::uint32_t maximumBufferSizeBytes = 0xFF'FFFF;

    std::uint16_t elementaryStreamID = 0;
    // Held to maximumBufferSizeBytes when written.
    std::uint32_t bufferSizeBytes = 0;
    std::uint32_t maximumBitRateBitsPerSecond = 0;
    std::uint32_t averageBitRateBitsPerSecond = 0;
    Bytes audioSpecificConfig;

    // Descriptor sizes are written in their shortest form.
    Bytes encodedData() const;

    bool operator==(const ElementaryStreamDescriptor&) const = default;
};

}  // namespace quillbridge
