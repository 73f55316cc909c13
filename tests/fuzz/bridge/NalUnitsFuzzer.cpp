// Feeds arbitrary bytes as a Persona frame's payload (the first byte picks the length field size) and as a
// format message's parameter sets, and checks that whatever the conversion accepts is exactly the payload's
// units behind start codes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bridge/LengthPrefixedNalUnits.hpp"
#include "bridge/PersonaCameraFormatDescription.hpp"
#include "core/Bytes.hpp"

using namespace quillbridge;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::int32_t fieldSize = static_cast<std::int32_t>(data[0] % 6);
    ByteView payload(data + 1, size - 1);

    auto annexB = LengthPrefixedNalUnits::toAnnexB(payload, fieldSize);
    if (annexB) {
        if (!LengthPrefixedNalUnits::isValidLengthFieldSize(fieldSize) || payload.empty())
            std::abort();
        // Walk both again: each unit must come back behind a start code, byte for byte, and nothing else.
        std::size_t in = 0;
        std::size_t out = 0;
        const auto width = static_cast<std::size_t>(fieldSize);
        while (in < payload.size()) {
            std::size_t length = 0;
            for (std::size_t index = 0; index < width; ++index)
                length = (length << 8) | payload[in + index];
            in += width;
            if (length == 0 || out + 4 + length > annexB->size())
                std::abort();
            if ((*annexB)[out] != 0 || (*annexB)[out + 1] != 0 || (*annexB)[out + 2] != 0 ||
                (*annexB)[out + 3] != 1)
                std::abort();
            for (std::size_t index = 0; index < length; ++index) {
                if ((*annexB)[out + 4 + index] != payload[in + index])
                    std::abort();
            }
            in += length;
            out += 4 + length;
        }
        if (in != payload.size() || out != annexB->size())
            std::abort();
    }

    // The same bytes as parameter sets: each byte a length of the next set.
    PersonaCameraFormatDescriptionMessage format;
    format.codec = data[0] & 0x80 ? StreamCodec::hevc : StreamCodec::h264;
    format.nalUnitHeaderLength = fieldSize;
    for (std::size_t position = 0; position < payload.size();) {
        const std::size_t length = std::min<std::size_t>(payload[position], payload.size() - position - 1);
        format.parameterSets.emplace_back(
            payload.begin() + static_cast<std::ptrdiff_t>(position + 1),
            payload.begin() + static_cast<std::ptrdiff_t>(position + 1 + length));
        position += 1 + length;
    }
    auto description = PersonaCameraFormatDescription::make(format);
    if (description) {
        if (format.parameterSets.size() < 2 || description->parameterSets != format.parameterSets)
            std::abort();
        const Bytes joined = LengthPrefixedNalUnits::annexBFromUnits(description->parameterSets);
        std::size_t expected = 0;
        for (const auto& set : description->parameterSets)
            expected += 4 + set.size();
        if (joined.size() != expected)
            std::abort();
    } else if (format.parameterSets.size() < 2 && description.error() != -50) {
        std::abort();
    }
    return 0;
}
