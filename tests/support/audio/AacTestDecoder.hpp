#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/Bytes.hpp"

namespace quillbridge {

// The audio one AAC packet decodes to, one float array per channel (full scale ±1).
struct DecodedAudioFrame {
    std::vector<std::vector<float>> channels;
};

// An AAC decoder of raw access units, configured from an AudioSpecificConfig: what a receiver of the
// host's audio does with each datagram's payload.
class AacTestDecoder {
public:
    virtual ~AacTestDecoder() = default;
    // The audio of one packet, or nothing when the decoder refuses it.
    virtual std::optional<DecodedAudioFrame> decode(ByteView packet) = 0;
};

}  // namespace quillbridge
