#pragma once

#include <cstddef>
#include <optional>

#include "core/Bytes.hpp"
#include "session/AudioCompressedBuffer.hpp"
#include "session/AudioCompressedFormat.hpp"
#include "session/AudioPCMBuffer.hpp"

namespace quillbridge {

// How a conversion went.
enum class AudioConverterOutputStatus {
    // Packets were produced.
    haveData,
    // The input was used up before a packet was complete; what it held waits inside the converter.
    inputRanDry,
    // The converter has been flushed and holds nothing more.
    endOfStream,
    // The conversion failed; the output is not to be used.
    error,
};

// An encoder of PCM audio into compressed packets, built by an AudioConverterFactory for one input format
// and one set of output settings. It does no priming: it neither needs leading audio before its first
// packet nor asks for trailing audio, so each call with a whole packet's worth of frames gives that packet.
// Used by one thread at a time; a call returns when the conversion is done.
class AudioConverter {
public:
    virtual ~AudioConverter() = default;

    virtual AudioCompressedFormat outputFormat() const = 0;
    // The largest packet the converter can produce, in bytes.
    virtual std::size_t maximumOutputPacketSize() const = 0;
    // The decoder configuration a receiver needs for the packets, when the codec has one. Equal inputs and
    // settings give byte-identical cookies, whichever converter reports them.
    virtual std::optional<Bytes> magicCookie() const = 0;

    // Encodes `input` (in the converter's input format) into `output`, which holds room for
    // `output.packetCapacity` packets of up to `output.maximumPacketSize` bytes each.
    virtual AudioConverterOutputStatus convert(const AudioPCMBuffer& input,
                                               AudioCompressedBuffer& output) = 0;
};

}  // namespace quillbridge
