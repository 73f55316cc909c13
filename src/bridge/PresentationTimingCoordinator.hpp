#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

namespace quillbridge {

// The adaptive presentation lead of the clock-synchronised media clock: maps a headset media time through the
// measured clock offset onto the host clock and adds a lead that grows at once when media arrives late and
// shrinks slowly, in steps, while it arrives early. Times are signed nanoseconds of the host's monotonic
// clock. Thread-safe; every operation takes the object's own lock.
class PresentationTimingCoordinator {
public:
    static constexpr std::int64_t minimumPresentationLeadNanoseconds = 8'000'000;
    static constexpr std::int64_t maximumPresentationLeadNanoseconds = 120'000'000;
    static constexpr std::int64_t sessionIdleReanchorAfterNanoseconds = 500'000'000;
    static constexpr std::int64_t defaultStartupPresentationLeadNanoseconds = 18'000'000;
    static constexpr std::int64_t renderSafetyMarginNanoseconds = 2'000'000;
    static constexpr std::int64_t targetLeadDecayPerSecondNanoseconds = 2'000'000;
    static constexpr std::int64_t appliedLeadIncreaseThresholdNanoseconds = 8'000'000;
    static constexpr std::int64_t emergencyHeadroomNanoseconds = 8'000'000;
    static constexpr std::int64_t appliedLeadDecreaseThresholdNanoseconds = 18'000'000;
    static constexpr std::int64_t appliedLeadDecreaseStepNanoseconds = 10'000'000;
    static constexpr std::int64_t appliedLeadDecreaseDwellNanoseconds = 5'000'000'000;
    static constexpr std::int64_t appliedLeadQuantumNanoseconds = 5'000'000;

    // Stores the clock offset and restarts the leads from the startup lead (clamped to 8...120 ms).
    void applyClockSynchronization(std::int64_t remoteToLocalClockOffsetNanoseconds,
                                   std::int64_t startupPresentationLeadNanoseconds);
    // The host time at which media of the source time, received at the host time, is to be presented.
    std::int64_t presentationHostTime(std::uint64_t sourcePresentationTimeNanoseconds,
                                      std::uint64_t receivedAtHostTimeNanoseconds);
    // Back to the initial state: leads 18 ms, no clock offset, no times.
    void reset();

private:
    void updateLeads(std::int64_t lateness, std::int64_t receivedAt);

    std::mutex lock_;
    std::int64_t startupPresentationLeadNanoseconds_ = defaultStartupPresentationLeadNanoseconds;
    std::int64_t targetPresentationLeadNanoseconds_ = defaultStartupPresentationLeadNanoseconds;
    std::int64_t appliedPresentationLeadNanoseconds_ = defaultStartupPresentationLeadNanoseconds;
    std::optional<std::int64_t> lastTargetLeadUpdateHostTimeNanoseconds_;
    std::optional<std::int64_t> lastAppliedLeadChangeHostTimeNanoseconds_;
    std::optional<std::int64_t> remoteToLocalClockOffsetNanoseconds_;
    std::optional<std::int64_t> lastMediaReceiveHostTimeNanoseconds_;
};

}  // namespace quillbridge
