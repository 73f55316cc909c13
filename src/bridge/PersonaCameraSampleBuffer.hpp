#pragma once

#include <cstdint>
#include <memory>

#include "bridge/PersonaCameraFormatDescription.hpp"
#include "core/Bytes.hpp"

namespace quillbridge {

// One encoded Persona frame ready for the decoder: its NAL units in Annex B form, the host time at which it
// is to be shown and the format it belongs to.
struct PersonaCameraSampleBuffer {
    static constexpr std::int64_t defaultDurationNanoseconds = 1'000'000'000 / 30;

    Bytes annexBPayload;
    // Host monotonic nanoseconds.
    std::int64_t presentationTimeNanoseconds = 0;
    std::int64_t durationNanoseconds = defaultDurationNanoseconds;
    // Shown as soon as it is decoded.
    bool displaysImmediately = true;
    // A delta frame (not a key frame).
    bool isNotSync = false;
    std::shared_ptr<const PersonaCameraFormatDescription> formatDescription;
};

}  // namespace quillbridge
