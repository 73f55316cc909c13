#pragma once

#include <cstddef>
#include <vector>

#include "core/Bytes.hpp"
#include "wire/AudioPacketDescription.hpp"

namespace quillbridge {

// Where a converter writes the packets of one conversion: the caller sets the capacity, the converter fills
// in the bytes and, when it describes its packets, one description per packet.
struct AudioCompressedBuffer {
    // How many packets the conversion may produce, and the largest one.
    std::size_t packetCapacity = 0;
    std::size_t maximumPacketSize = 0;

    // The packets' bytes, back to back in packet order.
    Bytes data;
    // One description per packet in `data`, in the same order; empty when the converter describes none.
    std::vector<AudioPacketDescription> packetDescriptions;
};

}  // namespace quillbridge
