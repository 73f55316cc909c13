#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <span>
#include <vector>

#include "virtual_devices/MicrophoneByteOrder.hpp"

// One packet of the headset's microphone audio, as the host writes it to the device's audio packet property.
// Little-endian throughout:
//
//   offset size field
//        0    4 magic "AMBQ"
//        4    4 version, 2
//        8    8 stream identifier: a new value starts a new stream
//       16    8 start host time (signed CLOCK_MONOTONIC nanoseconds): a new stream does not play before it
//       24    8 source time (nanoseconds of the headset's clock) of the first frame
//       32    4 frame count N
//       36    4 target buffer frames (the program keeps it within 1440...5760)
//       40  4×N samples: 32-bit IEEE floats, mono, 48 kHz
//
// The packet is exactly 40 + 4 × N bytes long.
namespace quillbridge::microphone {

inline constexpr std::array<std::uint8_t, 4> packetMagic{'A', 'M', 'B', 'Q'};
inline constexpr std::uint32_t packetVersion = 2;
inline constexpr std::size_t packetHeaderByteCount = 40;
inline constexpr std::size_t packetBytesPerFrame = 4;

struct MicrophonePacketHeader {
    std::uint64_t streamIdentifier = 0;
    std::int64_t startHostTimeNanoseconds = 0;
    std::uint64_t sourceTimeNanoseconds = 0;
    std::uint32_t frameCount = 0;
    std::uint32_t targetBufferFrameCount = 0;

    bool operator==(const MicrophonePacketHeader&) const = default;
};

// Why a packet was refused, in the order the checks run: the first that fails decides.
enum class MicrophonePacketRefusal {
    shorterThanHeader,
    wrongMagicOrVersion,
    wrongLength,
};

// The header of a packet, after its length, magic, version and exact size were checked.
inline std::expected<MicrophonePacketHeader, MicrophonePacketRefusal> readMicrophonePacketHeader(
    std::span<const std::uint8_t> packet) {
    if (packet.size() < packetHeaderByteCount) {
        return std::unexpected(MicrophonePacketRefusal::shorterThanHeader);
    }
    if (std::memcmp(packet.data(), packetMagic.data(), packetMagic.size()) != 0 ||
        loadLittleEndian<std::uint32_t>(packet.data() + 4) != packetVersion) {
        return std::unexpected(MicrophonePacketRefusal::wrongMagicOrVersion);
    }
    MicrophonePacketHeader header;
    header.streamIdentifier = loadLittleEndian<std::uint64_t>(packet.data() + 8);
    header.startHostTimeNanoseconds = loadLittleEndian<std::int64_t>(packet.data() + 16);
    header.sourceTimeNanoseconds = loadLittleEndian<std::uint64_t>(packet.data() + 24);
    header.frameCount = loadLittleEndian<std::uint32_t>(packet.data() + 32);
    header.targetBufferFrameCount = loadLittleEndian<std::uint32_t>(packet.data() + 36);
    // 64-bit arithmetic: 4 × N cannot wrap.
    if (packet.size() != packetHeaderByteCount + packetBytesPerFrame * std::uint64_t{header.frameCount}) {
        return std::unexpected(MicrophonePacketRefusal::wrongLength);
    }
    return header;
}

// The samples of a checked packet: frame count × 4 bytes of little-endian floats after the header.
inline std::span<const std::uint8_t> microphonePacketSampleBytes(std::span<const std::uint8_t> packet) {
    return packet.subspan(packetHeaderByteCount);
}

// A packet with the header's fields as given (the frame count too) followed by the sample bytes unchanged.
inline std::vector<std::uint8_t> encodeMicrophonePacket(const MicrophonePacketHeader& header,
                                                        std::span<const std::uint8_t> sampleBytes) {
    std::vector<std::uint8_t> packet;
    packet.reserve(packetHeaderByteCount + sampleBytes.size());
    packet.insert(packet.end(), packetMagic.begin(), packetMagic.end());
    appendLittleEndian(packet, packetVersion);
    appendLittleEndian(packet, header.streamIdentifier);
    appendLittleEndian(packet, header.startHostTimeNanoseconds);
    appendLittleEndian(packet, header.sourceTimeNanoseconds);
    appendLittleEndian(packet, header.frameCount);
    appendLittleEndian(packet, header.targetBufferFrameCount);
    packet.insert(packet.end(), sampleBytes.begin(), sampleBytes.end());
    return packet;
}

// A packet of float samples (native floats written little-endian), its frame count taken from the samples.
inline std::vector<std::uint8_t> encodeMicrophonePacket(MicrophonePacketHeader header,
                                                        std::span<const float> samples) {
    std::vector<std::uint8_t> sampleBytes;
    sampleBytes.reserve(samples.size() * packetBytesPerFrame);
    for (float sample : samples) {
        appendLittleEndian(sampleBytes, std::bit_cast<std::uint32_t>(sample));
    }
    header.frameCount = static_cast<std::uint32_t>(samples.size());
    return encodeMicrophonePacket(header, sampleBytes);
}

}  // namespace quillbridge::microphone
