#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/Bytes.hpp"
#include "wire/AudioFrameStreamHeader.hpp"
#include "wire/AudioPacketDescription.hpp"
#include "wire/InboundStreamKind.hpp"

namespace quillbridge {

// One compressed audio chunk in one QUIC datagram:
//   kind byte 2 | formatRevision (4) | header (27) | packet descriptions (8 each) | payload
// `formatRevision` is the revision of the audio format announcement that describes the payload.
struct AudioFrameDatagram {
    static constexpr std::uint8_t kindByte = wireByte(InboundStreamKind::audio);
    // Kind byte, revision and header: the size of a datagram with no packets and no payload.
    static constexpr std::size_t fixedByteCount = 1 + 4 + AudioFrameStreamHeader::byteCount;
    // The QUIC connection's maximum datagram frame size; a datagram of exactly this size is built.
    static constexpr std::size_t maximumByteCount = 1200;

    std::uint32_t formatRevision = 0;
    AudioFrameStreamHeader header;
    std::vector<AudioPacketDescription> packetDescriptions;
    Bytes payload;

    // The datagram's bytes, or nothing when the header's counts disagree with the descriptions or the
    // payload, or when the whole would exceed maximumByteCount.
    std::optional<Bytes> encodedData() const;

    bool operator==(const AudioFrameDatagram&) const = default;
};

}  // namespace quillbridge
