#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/Bytes.hpp"
#include "wire/ClipboardTransferOperation.hpp"

namespace quillbridge {

// The 14 bytes that open a clipboard payload stream after its stream-kind byte, all big-endian:
// protocolVersion (1), operation (1), transferID (8), payloadByteCount (4, the body that follows).
struct ClipboardPayloadStreamHeader {
    static constexpr std::size_t encodedByteCount = 14;
    static constexpr std::uint8_t currentProtocolVersion = 9;

    std::uint8_t protocolVersion = currentProtocolVersion;
    ClipboardTransferOperation operation = ClipboardTransferOperation::copyFromMac;
    std::uint64_t transferID = 0;
    std::uint32_t payloadByteCount = 0;

    // The 14 bytes of the fields as they are; checks nothing.
    Bytes encodedData() const;

    // Reads exactly 14 bytes. Nothing when the length is not 14, the version is not 9, the operation is
    // not 1 or 2, the identifier is 0, or the body length is not 1 to 67,166,689.
    static std::optional<ClipboardPayloadStreamHeader> decode(ByteView data);

    bool operator==(const ClipboardPayloadStreamHeader&) const = default;
};

}  // namespace quillbridge
