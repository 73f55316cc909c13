#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "bridge/PresentationTimingCoordinator.hpp"

namespace quillbridge {

// The one media clock for what arrives from the headset's camera and microphone: at which host time a Persona
// video frame or a microphone chunk is to be presented, and how much audio the virtual microphone keeps
// queued. Before the session has measured the clock offset it works from a local anchor and the observed
// transit jitter; afterwards it maps the headset's media times through the offset with an adaptive lead.
//
// All times are nanoseconds of the host's monotonic clock (CLOCK_MONOTONIC) or of the headset's capture
// clock, given by the callers. Shared by the camera receiver, the microphone receiver, the virtual
// microphone, the root model and the session. Thread-safe: every operation takes the coordinator's lock by
// itself (callers never hold it), and the lock of its calibrated timing only inside its own.
class PersonaAVTimingCoordinator {
public:
    static constexpr std::int64_t initialJitterNanoseconds = 5'000'000;
    static constexpr std::int64_t microphoneLeadFloorNanoseconds = 25'000'000;
    static constexpr std::int64_t baseMicrophoneReservoirNanoseconds = 30'000'000;
    static constexpr std::int64_t maximumMicrophoneReservoirNanoseconds = 120'000'000;

    PersonaAVTimingCoordinator() = default;
    virtual ~PersonaAVTimingCoordinator() = default;
    PersonaAVTimingCoordinator(const PersonaAVTimingCoordinator&) = delete;
    PersonaAVTimingCoordinator& operator=(const PersonaAVTimingCoordinator&) = delete;

    // Enters the clock-synchronised mode with the offset from the headset's clock to the host's and the
    // initial presentation lead (clamped to 8...120 ms), starting the timing afresh.
    virtual void applyClockSynchronization(std::int64_t visionToMacOffsetNanoseconds,
                                           std::int64_t initialPresentationLeadNanoseconds);
    // Back to the local mode, forgetting all timing history (the microphone-demand flag stays).
    virtual void reset();
    // Records whether a desktop app uses the virtual microphone and starts the microphone timing afresh.
    virtual void setMicrophoneDemanded(bool isDemanded);

    // The host time at which a microphone chunk starting at the source time is to play.
    std::int64_t microphonePresentationHostTime(std::uint64_t sourceTimeNanoseconds,
                                                std::uint64_t receivedAtHostTimeNanoseconds);
    // How much audio the virtual microphone is to keep queued.
    std::int64_t microphoneReservoirNanoseconds();
    // Forgets the microphone transit history (a chunk started a new timeline).
    void resetMicrophoneReservoir();
    // The host time at which a Persona video frame is to be shown.
    std::int64_t videoPresentationHostTime(std::uint64_t sourceTimeNanoseconds,
                                           std::uint64_t receivedAtHostTimeNanoseconds);
    // The virtual microphone rendered the source time at the host time.
    void recordAudioPlaybackObservation(std::int64_t sourceTimeNanoseconds, std::int64_t hostTimeNanoseconds);

private:
    struct Anchor {
        std::int64_t sourceTimeNanoseconds = 0;
        std::int64_t hostTimeNanoseconds = 0;
    };
    struct State {
        std::optional<std::int64_t> minimumObservedOffsetNanoseconds;
        double jitterNanoseconds = initialJitterNanoseconds;
        std::optional<Anchor> sessionAnchor;
        std::optional<std::int64_t> lastMediaReceiveHostTimeNanoseconds;
        std::optional<std::int64_t> lastAudioObservationHostTimeNanoseconds;
        bool microphoneIsDemanded = false;
        std::optional<std::int64_t> visionToMacClockOffsetNanoseconds;
        std::optional<std::int64_t> initialPresentationLeadNanoseconds;
        std::optional<std::int64_t> minimumMicrophoneTransitNanoseconds;
        std::int64_t targetMicrophoneReservoirNanoseconds = baseMicrophoneReservoirNanoseconds;
        std::int64_t appliedMicrophoneReservoirNanoseconds = baseMicrophoneReservoirNanoseconds;
        std::optional<std::int64_t> lastMicrophoneReservoirUpdateHostTimeNanoseconds;
        std::optional<std::int64_t> lastMicrophoneReservoirChangeHostTimeNanoseconds;
    };

    // Each of these runs with lock_ held.
    void resetLocalHistory();
    void resetReservoir();
    void reanchorWhenIdle(std::int64_t receivedAt);
    void updateJitter(std::int64_t source, std::int64_t receivedAt);
    std::int64_t localTargetHostTime(std::int64_t source, std::int64_t receivedAt, std::int64_t lead) const;
    std::int64_t anchoredPresentationHostTime(std::int64_t source, std::int64_t receivedAt,
                                              std::int64_t lead);
    std::int64_t localPresentationHostTime(std::int64_t source, std::int64_t receivedAt, std::int64_t lead);
    void updateMicrophoneReservoir(std::int64_t source, std::int64_t receivedAt, std::int64_t offset);
    std::int64_t calibratedLeadFloor() const;

    std::mutex lock_;
    PresentationTimingCoordinator calibratedTiming_;
    State state_;
};

}  // namespace quillbridge
