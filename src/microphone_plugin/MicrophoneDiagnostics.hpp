#pragma once

#include <cstdint>

#include "microphone_plugin/MicrophoneAudioState.hpp"
#include "microphone_plugin/MicrophonePropertyObject.hpp"

namespace quillbridge {

// The audio path's counters and the last rendered time pair, as the diagnostics property reports them.
struct MicrophoneDiagnostics {
    std::int64_t writeFrames = 0;
    std::int64_t readFrames = 0;
    std::int64_t queuedFrames = 0;
    std::int64_t underflows = 0;
    std::int64_t overflows = 0;
    std::int32_t targetFrames = 0;
    std::int64_t renderedSourceTimeNanoseconds = 0;
    std::int64_t renderHostTimeNanoseconds = 0;

    bool operator==(const MicrophoneDiagnostics&) const = default;
};

// Reads the counters without a lock. The time pair is 0 while the reader has not yet carried out a reset
// that the start of IO asked for, or when no consistent read of it succeeded in a bounded number of tries.
MicrophoneDiagnostics readMicrophoneDiagnostics(const MicrophoneAudioState& state);

// The diagnostics dictionary with its eight keys.
MicrophonePropertyObject* createMicrophoneDiagnosticsDictionary(const MicrophoneDiagnostics& diagnostics);

}  // namespace quillbridge
