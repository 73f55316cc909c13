#include "bridge/PersonaAVTimingCoordinator.hpp"

#include <algorithm>
#include <cmath>

#include "bridge/SaturatingNanoseconds.hpp"

namespace quillbridge {
namespace {

namespace sat = saturating;

constexpr std::int64_t minimumLeadNanoseconds =
    PresentationTimingCoordinator::minimumPresentationLeadNanoseconds;
constexpr std::int64_t maximumLeadNanoseconds =
    PresentationTimingCoordinator::maximumPresentationLeadNanoseconds;
constexpr std::int64_t idleReanchorNanoseconds =
    PresentationTimingCoordinator::sessionIdleReanchorAfterNanoseconds;
constexpr std::int64_t renderSafetyMarginNanoseconds =
    PresentationTimingCoordinator::renderSafetyMarginNanoseconds;
// How far one frame or chunk may move the local anchor (slewing, not jumping).
constexpr std::int64_t maximumAnchorSlewNanoseconds = 150'000;
// How long a playback observation keeps the anchor where the virtual microphone put it.
constexpr std::int64_t audioObservationHoldNanoseconds = 500'000'000;
constexpr double jitterRiseGain = 0.25;
constexpr double jitterFallGain = 1.0 / 64.0;

constexpr std::int64_t reservoirDecayPerSecondNanoseconds = 2'000'000;
constexpr std::int64_t reservoirIncreaseThresholdNanoseconds = 8'000'000;
constexpr std::int64_t reservoirDecreaseThresholdNanoseconds = 18'000'000;
constexpr std::int64_t reservoirDecreaseThresholdAtBaseNanoseconds = 8'000'000;
constexpr std::int64_t reservoirDecreaseDwellNanoseconds = 5'000'000'000;
constexpr std::int64_t reservoirStepNanoseconds = 5'000'000;
constexpr std::int64_t reservoirQuantumNanoseconds = 5'000'000;

std::int64_t twiceJitter(double jitter) {
    return sat::roundHalfAwayFromZero(2.0 * jitter);
}

std::int64_t slewAnchor(std::int64_t anchorHost, std::int64_t towards) {
    return sat::add(anchorHost,
                    std::clamp(towards, -maximumAnchorSlewNanoseconds, maximumAnchorSlewNanoseconds));
}

}  // namespace

void PersonaAVTimingCoordinator::applyClockSynchronization(std::int64_t visionToMacOffsetNanoseconds,
                                                           std::int64_t initialPresentationLeadNanoseconds) {
    std::lock_guard guard(lock_);
    const std::int64_t lead =
        std::clamp(initialPresentationLeadNanoseconds, minimumLeadNanoseconds, maximumLeadNanoseconds);
    state_.visionToMacClockOffsetNanoseconds = visionToMacOffsetNanoseconds;
    state_.initialPresentationLeadNanoseconds = lead;
    resetLocalHistory();
    resetReservoir();
    calibratedTiming_.applyClockSynchronization(visionToMacOffsetNanoseconds,
                                                std::max(lead, calibratedLeadFloor()));
}

void PersonaAVTimingCoordinator::reset() {
    {
        std::lock_guard guard(lock_);
        const bool microphoneIsDemanded = state_.microphoneIsDemanded;
        state_ = State{};
        state_.microphoneIsDemanded = microphoneIsDemanded;
        calibratedTiming_.reset();
    }
}

void PersonaAVTimingCoordinator::setMicrophoneDemanded(bool isDemanded) {
    std::lock_guard guard(lock_);
    if (isDemanded == state_.microphoneIsDemanded) {
        return;
    }
    state_.microphoneIsDemanded = isDemanded;
    resetReservoir();
    if (state_.visionToMacClockOffsetNanoseconds && state_.initialPresentationLeadNanoseconds) {
        calibratedTiming_.applyClockSynchronization(
            *state_.visionToMacClockOffsetNanoseconds,
            std::max(*state_.initialPresentationLeadNanoseconds, calibratedLeadFloor()));
    } else if (isDemanded) {
        resetLocalHistory();
    }
}

std::int64_t PersonaAVTimingCoordinator::microphonePresentationHostTime(
    std::uint64_t sourceTimeNanoseconds, std::uint64_t receivedAtHostTimeNanoseconds) {
    std::lock_guard guard(lock_);
    const std::int64_t source = sat::fromUnsigned(sourceTimeNanoseconds);
    const std::int64_t receivedAt = sat::fromUnsigned(receivedAtHostTimeNanoseconds);
    if (state_.visionToMacClockOffsetNanoseconds) {
        state_.lastMediaReceiveHostTimeNanoseconds = receivedAt;
        updateMicrophoneReservoir(source, receivedAt, *state_.visionToMacClockOffsetNanoseconds);
        return calibratedTiming_.presentationHostTime(sourceTimeNanoseconds, receivedAtHostTimeNanoseconds);
    }
    return localPresentationHostTime(source, receivedAt, microphoneLeadFloorNanoseconds);
}

std::int64_t PersonaAVTimingCoordinator::microphoneReservoirNanoseconds() {
    std::lock_guard guard(lock_);
    if (state_.visionToMacClockOffsetNanoseconds) {
        return state_.appliedMicrophoneReservoirNanoseconds;
    }
    return std::min(sat::add(twiceJitter(state_.jitterNanoseconds), baseMicrophoneReservoirNanoseconds),
                    maximumMicrophoneReservoirNanoseconds);
}

void PersonaAVTimingCoordinator::resetMicrophoneReservoir() {
    std::lock_guard guard(lock_);
    resetReservoir();
}

std::int64_t PersonaAVTimingCoordinator::videoPresentationHostTime(
    std::uint64_t sourceTimeNanoseconds, std::uint64_t receivedAtHostTimeNanoseconds) {
    std::lock_guard guard(lock_);
    const std::int64_t source = sat::fromUnsigned(sourceTimeNanoseconds);
    const std::int64_t receivedAt = sat::fromUnsigned(receivedAtHostTimeNanoseconds);
    if (state_.visionToMacClockOffsetNanoseconds) {
        state_.lastMediaReceiveHostTimeNanoseconds = receivedAt;
        return calibratedTiming_.presentationHostTime(sourceTimeNanoseconds, receivedAtHostTimeNanoseconds);
    }
    return localPresentationHostTime(source, receivedAt, calibratedLeadFloor());
}

void PersonaAVTimingCoordinator::recordAudioPlaybackObservation(std::int64_t sourceTimeNanoseconds,
                                                                std::int64_t hostTimeNanoseconds) {
    std::lock_guard guard(lock_);
    if (state_.visionToMacClockOffsetNanoseconds) {
        return;
    }
    state_.lastAudioObservationHostTimeNanoseconds = hostTimeNanoseconds;
    if (!state_.sessionAnchor) {
        state_.sessionAnchor = Anchor{sourceTimeNanoseconds, hostTimeNanoseconds};
        return;
    }
    Anchor& anchor = *state_.sessionAnchor;
    const std::int64_t projected = sat::add(
        anchor.hostTimeNanoseconds, sat::subtract(sourceTimeNanoseconds, anchor.sourceTimeNanoseconds));
    anchor.hostTimeNanoseconds =
        slewAnchor(anchor.hostTimeNanoseconds, sat::subtract(hostTimeNanoseconds, projected));
}

void PersonaAVTimingCoordinator::resetLocalHistory() {
    state_.minimumObservedOffsetNanoseconds.reset();
    state_.jitterNanoseconds = initialJitterNanoseconds;
    state_.sessionAnchor.reset();
    state_.lastMediaReceiveHostTimeNanoseconds.reset();
    state_.lastAudioObservationHostTimeNanoseconds.reset();
}

void PersonaAVTimingCoordinator::resetReservoir() {
    state_.minimumMicrophoneTransitNanoseconds.reset();
    state_.targetMicrophoneReservoirNanoseconds = baseMicrophoneReservoirNanoseconds;
    state_.appliedMicrophoneReservoirNanoseconds = baseMicrophoneReservoirNanoseconds;
    state_.lastMicrophoneReservoirUpdateHostTimeNanoseconds.reset();
    state_.lastMicrophoneReservoirChangeHostTimeNanoseconds.reset();
}

std::int64_t PersonaAVTimingCoordinator::calibratedLeadFloor() const {
    return state_.microphoneIsDemanded ? microphoneLeadFloorNanoseconds : minimumLeadNanoseconds;
}

void PersonaAVTimingCoordinator::reanchorWhenIdle(std::int64_t receivedAt) {
    if (state_.lastMediaReceiveHostTimeNanoseconds &&
        sat::add(*state_.lastMediaReceiveHostTimeNanoseconds, idleReanchorNanoseconds) < receivedAt) {
        state_.minimumObservedOffsetNanoseconds.reset();
        state_.jitterNanoseconds = initialJitterNanoseconds;
        state_.sessionAnchor.reset();
        state_.lastAudioObservationHostTimeNanoseconds.reset();
        state_.minimumMicrophoneTransitNanoseconds.reset();
        state_.targetMicrophoneReservoirNanoseconds = baseMicrophoneReservoirNanoseconds;
        state_.appliedMicrophoneReservoirNanoseconds = baseMicrophoneReservoirNanoseconds;
        state_.lastMicrophoneReservoirUpdateHostTimeNanoseconds.reset();
        state_.lastMicrophoneReservoirChangeHostTimeNanoseconds.reset();
    }
    state_.lastMediaReceiveHostTimeNanoseconds = receivedAt;
}

void PersonaAVTimingCoordinator::updateJitter(std::int64_t source, std::int64_t receivedAt) {
    const std::int64_t transit = sat::subtract(receivedAt, source);
    if (!state_.minimumObservedOffsetNanoseconds) {
        state_.minimumObservedOffsetNanoseconds = transit;
        return;
    }
    const std::int64_t minimum = std::min(*state_.minimumObservedOffsetNanoseconds, transit);
    state_.minimumObservedOffsetNanoseconds = minimum;
    const double deviation = static_cast<double>(std::max<std::int64_t>(sat::subtract(transit, minimum), 0));
    const double gain = deviation > state_.jitterNanoseconds ? jitterRiseGain : jitterFallGain;
    state_.jitterNanoseconds += (deviation - state_.jitterNanoseconds) * gain;
}

std::int64_t PersonaAVTimingCoordinator::localTargetHostTime(std::int64_t source, std::int64_t receivedAt,
                                                             std::int64_t lead) const {
    const std::int64_t offset =
        state_.minimumObservedOffsetNanoseconds.value_or(sat::subtract(receivedAt, source));
    const std::int64_t adaptiveLead =
        std::min(sat::add(lead, twiceJitter(state_.jitterNanoseconds)), maximumLeadNanoseconds);
    return std::max(sat::add(sat::add(source, offset), adaptiveLead),
                    sat::add(receivedAt, renderSafetyMarginNanoseconds));
}

std::int64_t PersonaAVTimingCoordinator::anchoredPresentationHostTime(std::int64_t source,
                                                                      std::int64_t receivedAt,
                                                                      std::int64_t lead) {
    const std::int64_t target = localTargetHostTime(source, receivedAt, lead);
    if (!state_.sessionAnchor) {
        state_.sessionAnchor = Anchor{source, target};
    } else {
        // While the virtual microphone reports its playback, the anchor follows those reports instead.
        const bool followsPlayback = state_.lastAudioObservationHostTimeNanoseconds &&
                                     sat::add(*state_.lastAudioObservationHostTimeNanoseconds,
                                              audioObservationHoldNanoseconds) >= receivedAt;
        if (!followsPlayback) {
            Anchor& anchor = *state_.sessionAnchor;
            const std::int64_t projected =
                sat::add(anchor.hostTimeNanoseconds, sat::subtract(source, anchor.sourceTimeNanoseconds));
            anchor.hostTimeNanoseconds =
                slewAnchor(anchor.hostTimeNanoseconds, sat::subtract(target, projected));
        }
    }
    const Anchor& anchor = *state_.sessionAnchor;
    const std::int64_t mapped =
        sat::add(anchor.hostTimeNanoseconds, sat::subtract(source, anchor.sourceTimeNanoseconds));
    return std::clamp(mapped, sat::add(receivedAt, renderSafetyMarginNanoseconds),
                      sat::add(receivedAt, maximumLeadNanoseconds));
}

std::int64_t PersonaAVTimingCoordinator::localPresentationHostTime(std::int64_t source,
                                                                   std::int64_t receivedAt,
                                                                   std::int64_t lead) {
    reanchorWhenIdle(receivedAt);
    updateJitter(source, receivedAt);
    return anchoredPresentationHostTime(source, receivedAt, lead);
}

void PersonaAVTimingCoordinator::updateMicrophoneReservoir(std::int64_t source, std::int64_t receivedAt,
                                                           std::int64_t offset) {
    const std::int64_t transit =
        std::max<std::int64_t>(sat::subtract(receivedAt, sat::add(source, offset)), 0);
    const std::int64_t minimum =
        std::min(state_.minimumMicrophoneTransitNanoseconds.value_or(transit), transit);
    state_.minimumMicrophoneTransitNanoseconds = minimum;
    const std::int64_t desired = std::min(sat::add(transit - minimum, baseMicrophoneReservoirNanoseconds),
                                          maximumMicrophoneReservoirNanoseconds);

    std::int64_t& target = state_.targetMicrophoneReservoirNanoseconds;
    if (target < desired) {
        target = desired;
    } else if (state_.lastMicrophoneReservoirUpdateHostTimeNanoseconds &&
               *state_.lastMicrophoneReservoirUpdateHostTimeNanoseconds < receivedAt) {
        const double elapsed = static_cast<double>(
            sat::subtract(receivedAt, *state_.lastMicrophoneReservoirUpdateHostTimeNanoseconds));
        const std::int64_t decay = sat::fromDouble(
            std::floor(elapsed * static_cast<double>(reservoirDecayPerSecondNanoseconds) / 1'000'000'000.0));
        target = std::max(sat::subtract(target, decay), desired);
    }
    state_.lastMicrophoneReservoirUpdateHostTimeNanoseconds = receivedAt;

    std::int64_t& applied = state_.appliedMicrophoneReservoirNanoseconds;
    if (sat::subtract(target, applied) >= reservoirIncreaseThresholdNanoseconds) {
        applied = std::min(sat::roundUpToMultiple(target, reservoirQuantumNanoseconds),
                           maximumMicrophoneReservoirNanoseconds);
        state_.lastMicrophoneReservoirChangeHostTimeNanoseconds = receivedAt;
        return;
    }
    const std::int64_t excess = sat::subtract(applied, target);
    const std::int64_t threshold = target == baseMicrophoneReservoirNanoseconds
                                       ? reservoirDecreaseThresholdAtBaseNanoseconds
                                       : reservoirDecreaseThresholdNanoseconds;
    if (excess < threshold) {
        return;
    }
    if (state_.lastMicrophoneReservoirChangeHostTimeNanoseconds &&
        sat::subtract(receivedAt, *state_.lastMicrophoneReservoirChangeHostTimeNanoseconds) <
            reservoirDecreaseDwellNanoseconds) {
        return;
    }
    applied = std::max(
        sat::roundTowardsZeroToMultiple(std::max(sat::subtract(applied, reservoirStepNanoseconds), target),
                                        reservoirQuantumNanoseconds),
        baseMicrophoneReservoirNanoseconds);
    state_.lastMicrophoneReservoirChangeHostTimeNanoseconds = receivedAt;
}

}  // namespace quillbridge
