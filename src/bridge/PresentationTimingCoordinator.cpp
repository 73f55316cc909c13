#include "bridge/PresentationTimingCoordinator.hpp"

#include <algorithm>
#include <cmath>

#include "bridge/SaturatingNanoseconds.hpp"

namespace quillbridge {
namespace {

namespace sat = saturating;

std::int64_t clampLead(std::int64_t lead) {
    return std::clamp(lead, PresentationTimingCoordinator::minimumPresentationLeadNanoseconds,
                      PresentationTimingCoordinator::maximumPresentationLeadNanoseconds);
}

// How far a lead decays over the host time between two updates (2 ms per second, rounded down).
std::int64_t decaySince(std::int64_t earlier, std::int64_t later) {
    const double elapsed = static_cast<double>(sat::subtract(later, earlier));
    return sat::fromDouble(std::floor(
        elapsed * static_cast<double>(PresentationTimingCoordinator::targetLeadDecayPerSecondNanoseconds) /
        1'000'000'000.0));
}

}  // namespace

void PresentationTimingCoordinator::applyClockSynchronization(
    std::int64_t remoteToLocalClockOffsetNanoseconds, std::int64_t startupPresentationLeadNanoseconds) {
    std::lock_guard guard(lock_);
    remoteToLocalClockOffsetNanoseconds_ = remoteToLocalClockOffsetNanoseconds;
    const std::int64_t lead = clampLead(startupPresentationLeadNanoseconds);
    startupPresentationLeadNanoseconds_ = lead;
    targetPresentationLeadNanoseconds_ = lead;
    appliedPresentationLeadNanoseconds_ = lead;
    lastTargetLeadUpdateHostTimeNanoseconds_.reset();
    lastAppliedLeadChangeHostTimeNanoseconds_.reset();
}

std::int64_t PresentationTimingCoordinator::presentationHostTime(
    std::uint64_t sourcePresentationTimeNanoseconds, std::uint64_t receivedAtHostTimeNanoseconds) {
    std::lock_guard guard(lock_);
    const std::int64_t source = sat::fromUnsigned(sourcePresentationTimeNanoseconds);
    const std::int64_t receivedAt = sat::fromUnsigned(receivedAtHostTimeNanoseconds);

    // After half a second without media the lead starts again from the startup lead.
    if (lastMediaReceiveHostTimeNanoseconds_ &&
        sat::add(*lastMediaReceiveHostTimeNanoseconds_, sessionIdleReanchorAfterNanoseconds) < receivedAt) {
        targetPresentationLeadNanoseconds_ = startupPresentationLeadNanoseconds_;
        appliedPresentationLeadNanoseconds_ = startupPresentationLeadNanoseconds_;
        lastTargetLeadUpdateHostTimeNanoseconds_.reset();
        lastAppliedLeadChangeHostTimeNanoseconds_.reset();
    }
    if (remoteToLocalClockOffsetNanoseconds_) {
        const std::int64_t mapped = sat::add(source, *remoteToLocalClockOffsetNanoseconds_);
        updateLeads(std::max<std::int64_t>(sat::subtract(receivedAt, mapped), 0), receivedAt);
    }
    lastMediaReceiveHostTimeNanoseconds_ = receivedAt;

    const std::int64_t offset = remoteToLocalClockOffsetNanoseconds_.value_or(0);
    return std::max<std::int64_t>(sat::add(sat::add(source, offset), appliedPresentationLeadNanoseconds_), 0);
}

void PresentationTimingCoordinator::updateLeads(std::int64_t lateness, std::int64_t receivedAt) {
    // The target follows the lateness up at once and decays towards it (never below the startup lead).
    const std::int64_t required = clampLead(sat::add(lateness, renderSafetyMarginNanoseconds));
    if (targetPresentationLeadNanoseconds_ < required) {
        targetPresentationLeadNanoseconds_ = required;
    } else if (lastTargetLeadUpdateHostTimeNanoseconds_ &&
               *lastTargetLeadUpdateHostTimeNanoseconds_ < receivedAt) {
        const std::int64_t decay = decaySince(*lastTargetLeadUpdateHostTimeNanoseconds_, receivedAt);
        targetPresentationLeadNanoseconds_ =
            std::max({sat::subtract(targetPresentationLeadNanoseconds_, decay), required,
                      startupPresentationLeadNanoseconds_});
    }
    if (!lastTargetLeadUpdateHostTimeNanoseconds_ || *lastTargetLeadUpdateHostTimeNanoseconds_ < receivedAt) {
        lastTargetLeadUpdateHostTimeNanoseconds_ = receivedAt;
    }

    // The applied lead jumps up in 5 ms steps when the target runs away or the headroom is nearly gone...
    const std::int64_t target = targetPresentationLeadNanoseconds_;
    const std::int64_t applied = appliedPresentationLeadNanoseconds_;
    const std::int64_t headroom = sat::subtract(applied, lateness);
    if (sat::subtract(target, applied) >= appliedLeadIncreaseThresholdNanoseconds ||
        headroom <= emergencyHeadroomNanoseconds) {
        const std::int64_t wanted = std::max(target, sat::add(lateness, renderSafetyMarginNanoseconds));
        const std::int64_t candidate = std::min(sat::roundUpToMultiple(wanted, appliedLeadQuantumNanoseconds),
                                                maximumPresentationLeadNanoseconds);
        if (applied < candidate) {
            appliedPresentationLeadNanoseconds_ = candidate;
            lastAppliedLeadChangeHostTimeNanoseconds_ = receivedAt;
        }
        return;
    }

    // ...and comes down at most one step per dwell. Near the startup lead a smaller excess is enough, so the
    // lead settles within 8 ms of it.
    const std::int64_t excess = applied - target;
    const std::int64_t threshold = target == startupPresentationLeadNanoseconds_
                                       ? appliedLeadIncreaseThresholdNanoseconds
                                       : appliedLeadDecreaseThresholdNanoseconds;
    if (excess < threshold) {
        return;
    }
    if (lastAppliedLeadChangeHostTimeNanoseconds_ &&
        sat::subtract(receivedAt, *lastAppliedLeadChangeHostTimeNanoseconds_) <
            appliedLeadDecreaseDwellNanoseconds) {
        return;
    }
    const std::int64_t stepped = std::max(applied - appliedLeadDecreaseStepNanoseconds, target);
    const std::int64_t candidate =
        std::max(sat::roundTowardsZeroToMultiple(stepped, appliedLeadQuantumNanoseconds),
                 startupPresentationLeadNanoseconds_);
    if (candidate < applied) {
        appliedPresentationLeadNanoseconds_ = candidate;
        lastAppliedLeadChangeHostTimeNanoseconds_ = receivedAt;
    }
}

void PresentationTimingCoordinator::reset() {
    std::lock_guard guard(lock_);
    startupPresentationLeadNanoseconds_ = defaultStartupPresentationLeadNanoseconds;
    targetPresentationLeadNanoseconds_ = defaultStartupPresentationLeadNanoseconds;
    appliedPresentationLeadNanoseconds_ = defaultStartupPresentationLeadNanoseconds;
    lastTargetLeadUpdateHostTimeNanoseconds_.reset();
    lastAppliedLeadChangeHostTimeNanoseconds_.reset();
    remoteToLocalClockOffsetNanoseconds_.reset();
    lastMediaReceiveHostTimeNanoseconds_.reset();
}

}  // namespace quillbridge
