#include "session/ScreenStreamBroadcaster.hpp"

// Keyboard layout and lock-state reporting to the headset. Until it is built nothing is reported.

namespace quillbridge {

void ScreenStreamBroadcaster::scheduleKeyboardLayoutRefresh() {
    logger_.debug("Keyboard layout reporting is not available yet");
}

void ScreenStreamBroadcaster::startKeyboardLockStateReporting() {
    logger_.debug("Keyboard lock-state reporting is not available yet");
}

}  // namespace quillbridge
