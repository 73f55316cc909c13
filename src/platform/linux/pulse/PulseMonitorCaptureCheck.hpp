#pragma once

#include <chrono>
#include <string_view>

namespace quillbridge {

// Whether system audio can be recorded right now: the sound server (PulseAudio or pipewire-pulse) accepts a
// connection, names a default sink, and a record stream on that sink's monitor becomes ready. The stream is
// closed again at once. Blocks for at most about twice the time-out; never call it on the GUI thread.
class PulseMonitorCaptureCheck {
public:
    enum class Outcome { available, noServer, noDefaultSink, monitorRefused };

    static Outcome check(std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));
    // A short English description of a failure, for the log.
    static std::string_view describe(Outcome outcome);
};

}  // namespace quillbridge
