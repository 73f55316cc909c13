#pragma once

#include <string_view>

// The keys of the microphone program's diagnostics dictionary (the device's diagnostics property). Every
// value is a signed integer: "targetFrames" a 32-bit one, the others 64-bit.
namespace quillbridge::microphone::diagnosticsKey {

// Frames written by the host since the program started.
inline constexpr std::string_view writeFrames = "writeFrames";
// Frames asked for by the audio server's cycles since the program started.
inline constexpr std::string_view readFrames = "readFrames";
// Frames written and not yet read.
inline constexpr std::string_view queuedFrames = "queuedFrames";
// Cycles that ran dry while playing.
inline constexpr std::string_view underflows = "underflows";
// Packets that overran the reader.
inline constexpr std::string_view overflows = "overflows";
// The buffer the reader keeps, in frames.
inline constexpr std::string_view targetFrames = "targetFrames";
// The headset time of the first frame rendered in the last cycle that rendered one, and the host time
// (CLOCK_MONOTONIC nanoseconds) at which that frame plays.
inline constexpr std::string_view renderedSourceTimeNanoseconds = "renderedSourceTimeNanoseconds";
inline constexpr std::string_view renderHostTimeNanoseconds = "renderHostTimeNanoseconds";

}  // namespace quillbridge::microphone::diagnosticsKey
