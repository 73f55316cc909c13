#pragma once

#include <vector>

#include "core/Bytes.hpp"
#include "wire/AudioPacketDescription.hpp"
#include "wire/AudioStreamFormatMessage.hpp"

namespace quillbridge {

// The compressed form of one audio chunk.
struct EncodedAudioPacket {
    // The format that produced the packet, as the headset is told about it.
    AudioStreamFormatMessage formatMessage;
    // The compressed bytes of all packets, back to back.
    Bytes payload;
    // One description per packet, in payload order.
    std::vector<AudioPacketDescription> packetDescriptions;
};

}  // namespace quillbridge
