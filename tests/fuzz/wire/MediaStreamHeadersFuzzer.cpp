// Feeds arbitrary bytes to the readers of the headset's stream-kind byte and media stream headers, and
// checks that whatever they accept reads back the same through the fixed layout.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/Bytes.hpp"
#include "wire/InboundStreamKind.hpp"
#include "wire/MicrophoneFrameStreamHeader.hpp"
#include "wire/VideoFrameStreamHeader.hpp"

using namespace quillbridge;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteView bytes(data, size);

    if (size >= 1) {
        auto kind = inboundStreamKindFromWireByte(bytes[0]);
        if (kind.has_value() != (bytes[0] >= 1 && bytes[0] <= 5))
            std::abort();
        if (kind && wireByte(*kind) != bytes[0])
            std::abort();
    }

    if (auto video = VideoFrameStreamHeader::decode(bytes)) {
        if (size < VideoFrameStreamHeader::byteCount || video->version != 1)
            std::abort();
        // The writer puts the flag back as 1 or 0; everything else comes back byte for byte.
        Bytes written = video->encodedData();
        if (written.size() != VideoFrameStreamHeader::byteCount)
            std::abort();
        for (std::size_t index = 0; index + 1 < written.size(); ++index) {
            if (written[index] != bytes[index])
                std::abort();
        }
        if (written.back() != (bytes[21] & 1))
            std::abort();
    } else if (size >= VideoFrameStreamHeader::byteCount && bytes[0] == 1) {
        std::abort();
    }

    if (auto microphone = MicrophoneFrameStreamHeader::decode(bytes)) {
        if (size < MicrophoneFrameStreamHeader::byteCount || microphone->protocolVersion != 1)
            std::abort();
        std::uint64_t chunkID = 0;
        for (std::size_t index = 1; index < 9; ++index)
            chunkID = chunkID << 8 | bytes[index];
        if (microphone->chunkID != chunkID)
            std::abort();
    } else if (size >= MicrophoneFrameStreamHeader::byteCount && bytes[0] == 1) {
        std::abort();
    }
    return 0;
}
