#pragma once

#include <string_view>

namespace quillbridge {

// The host's private output on the sound server: a null sink into which the desktop's sound goes while the
// host mutes the real outputs, and whose monitor system-audio capture records then. Never muted by the host.
struct PulseHostAudioSink {
    static constexpr std::string_view name = "quillbridge_host_audio";
    static constexpr std::string_view description = "Quillbridge Host Audio";
    // A property of the sink: the default sink it replaced, so a later run can put it back after a crash.
    static constexpr std::string_view replacedDefaultProperty = "quillbridge.replaced-default-sink";
};

}  // namespace quillbridge
