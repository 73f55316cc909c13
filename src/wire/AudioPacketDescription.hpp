#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Bytes.hpp"

namespace quillbridge {

// One compressed packet inside an audio chunk, 8 bytes on the wire:
//   dataByteSize (4) | variableFramesInPacket (4), big-endian.
struct AudioPacketDescription {
    static constexpr std::size_t byteCount = 8;

    std::uint32_t dataByteSize = 0;
    std::uint32_t variableFramesInPacket = 0;

    Bytes encodedData() const;
    void appendEncoded(Bytes& buffer) const;

    bool operator==(const AudioPacketDescription&) const = default;
};

}  // namespace quillbridge
