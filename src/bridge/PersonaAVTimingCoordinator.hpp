#pragma once

#include <cstdint>

namespace quillbridge {

// Keeps the headset's and the host's clocks in step for the Persona camera and microphone paths: the
// headset-to-host clock offset, the initial presentation lead and the calibration that follows from them.
// Shared by the camera receiver, the microphone receiver, the virtual microphone and the session.
// Thread-safe.
class PersonaAVTimingCoordinator {
public:
    virtual ~PersonaAVTimingCoordinator() = default;

    // Stores the offset from the headset's clock to the host's and the initial lead (clamped to 8...120 ms
    // by the coordinator), and recalibrates the timing.
    virtual void applyClockSynchronization(std::int64_t visionToMacOffsetNanoseconds,
                                           std::int64_t initialPresentationLeadNanoseconds) = 0;

    // Forgets the clock offset, jitter and anchors (the microphone-demand flag stays).
    virtual void reset() = 0;
    // Records whether the host wants the headset's microphone audio and starts its microphone timing afresh.
    virtual void setMicrophoneDemanded(bool isDemanded) = 0;
};

}  // namespace quillbridge
