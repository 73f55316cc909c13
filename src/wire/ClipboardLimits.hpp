#pragma once

#include <cstddef>
#include <cstdint>

namespace quillbridge {

// The bounds of one clipboard transfer. Lengths of strings count UTF-8 bytes.
struct ClipboardLimits {
    static constexpr std::size_t minimumItemCount = 1;
    static constexpr std::size_t maximumItemCount = 16;
    static constexpr std::size_t minimumRepresentationCountPerItem = 1;
    static constexpr std::size_t maximumRepresentationCountPerItem = 32;
    static constexpr std::size_t maximumRepresentationCountPerPayload = 64;
    static constexpr std::size_t maximumTypeIdentifierByteCount = 512;
    static constexpr std::size_t maximumSuggestedFilenameByteCount = 1'024;
    // One representation's data, and all data of a payload together (64 MiB).
    static constexpr std::size_t maximumRepresentationDataByteCount = 67'108'864;
    static constexpr std::size_t maximumPayloadDataByteCount = 67'108'864;
    // The largest body the other bounds allow: 1 + 16 x 2 + 16 x (4 + 1,024 + 512) + 64 x (6 + 512) + 64 MiB.
    static constexpr std::size_t maximumPayloadBodyByteCount = 67'166'689;
    // The largest piece of representation data moved by one send or receive (256 KiB).
    static constexpr std::size_t maximumSliceByteCount = 262'144;
};

static_assert(ClipboardLimits::maximumPayloadBodyByteCount ==
              1 + ClipboardLimits::maximumItemCount * 2 +
                  ClipboardLimits::maximumItemCount *
                      (4 + ClipboardLimits::maximumSuggestedFilenameByteCount +
                       ClipboardLimits::maximumTypeIdentifierByteCount) +
                  ClipboardLimits::maximumRepresentationCountPerPayload *
                      (6 + ClipboardLimits::maximumTypeIdentifierByteCount) +
                  ClipboardLimits::maximumPayloadDataByteCount);
static_assert(ClipboardLimits::maximumPayloadBodyByteCount == 0x0400E1E1);

}  // namespace quillbridge
