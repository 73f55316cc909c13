#pragma once

#include <cstdint>

#include "core/Bytes.hpp"

namespace quillbridge {

// One decoded Persona picture for the virtual camera: 8-bit 4:2:0 NV12 in video range (luma 16...235), the
// planes packed without padding, with the host time at which it is to be shown.
struct DecodedPersonaCameraFrame {
    int width = 0;
    int height = 0;
    // width x height luma bytes.
    Bytes lumaPlane;
    // ceil(height / 2) rows of ceil(width / 2) interleaved Cb, Cr pairs.
    Bytes chromaPlane;
    // Host monotonic nanoseconds.
    std::int64_t presentationTimeNanoseconds = 0;
    std::int64_t durationNanoseconds = 0;

    int chromaRowByteCount() const { return (width + 1) / 2 * 2; }
    int chromaRowCount() const { return (height + 1) / 2; }
};

}  // namespace quillbridge
