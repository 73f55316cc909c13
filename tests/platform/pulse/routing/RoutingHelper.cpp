// A host that is killed while it mutes: routes the desktop's sound into its private sink and mutes the
// outputs as a session would, says "muted" on its standard output, then waits to be killed.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "capture/SystemAudioMuteController.hpp"
#include "platform/linux/pulse/PulseAudioOutputMuteControls.hpp"
#include "platform/linux/pulse/PulseSystemAudioRouter.hpp"

int main() {
    using namespace quillbridge;
    std::string error;
    auto controls = PulseAudioOutputMuteControls::connect(std::chrono::seconds(10), &error);
    if (!controls) {
        std::fprintf(stderr, "no sound server: %s\n", error.c_str());
        return 1;
    }
    // Never destroyed: the process ends by SIGKILL, as a crash would end it.
    auto* controller = new SystemAudioMuteController(
        std::move(controls), std::make_unique<PulseSystemAudioRouter>(std::chrono::seconds(10)));
    if (!controller->muteOutputDevices()) {
        return 1;
    }
    std::printf("muted\n");
    std::fflush(stdout);
    for (;;) {
        pause();
    }
}
