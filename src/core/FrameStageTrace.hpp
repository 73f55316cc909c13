#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace quillbridge {

// The stages a captured video frame passes on its way from the screen to the wire, in path order.
enum class FrameStage : std::uint8_t {
    damageNotify,    // the X server's first damage notify the grab answers
    grabDone,        // the screen's pixels are in the capture's hands
    captureDone,     // cursor drawn in, copied or scaled into the frame's buffer, about to be handed on
    mailboxIn,       // stored in the capture-to-session mailbox
    broadcasterIn,   // taken up by the broadcaster on its actor
    conversionDone,  // converted to the encoder's picture format, about to be encoded
    encoderOut,      // the encoder gave out its access unit
    mediaQueueIn,    // queued for the media stream
    handedToQuic,    // its first bytes handed to the QUIC stream
    firstUdpSend,    // the first UDP send carrying its bytes
};

inline constexpr std::size_t frameStageCount = 10;

std::string_view frameStageName(FrameStage stage);

// Time stamps along frames' paths, recorded into a fixed ring that keeps the newest entries. A frame is
// known by its key: the capture timestamp it carries all the way (CLOCK_MONOTONIC nanoseconds at grab
// time). Recording is lock-free from any thread; while the trace is off a stamp costs one relaxed load and
// a branch. Diagnostics only: nothing in the product reads it back.
class FrameStageTrace {
public:
    struct Entry {
        std::uint64_t key = 0;
        std::uint64_t timeNanoseconds = 0;
        FrameStage stage = FrameStage::damageNotify;
    };

    // `capacity` is rounded up to a power of two.
    explicit FrameStageTrace(std::size_t capacity = std::size_t{1} << 16);
    FrameStageTrace(const FrameStageTrace&) = delete;
    FrameStageTrace& operator=(const FrameStageTrace&) = delete;

    // The process's trace, off until someone enables it (the end-to-end benchmark does).
    static FrameStageTrace& global();
    // Stamps the global trace now; nothing when it is off.
    static void stamp(FrameStage stage, std::uint64_t key) {
        auto& trace = global();
        if (trace.enabled_.load(std::memory_order_relaxed)) [[unlikely]] {
            trace.record(stage, key, nowNanoseconds());
        }
    }
    // The key of the frame last handed to QUIC and not yet claimed by the transport (0 when none); the
    // transport claims it for the data queued next, so that it can stamp that frame's first UDP send.
    static std::uint64_t claimWireKey() {
        auto& trace = global();
        if (!trace.enabled_.load(std::memory_order_relaxed)) [[likely]] {
            return 0;
        }
        return trace.wireKey_.exchange(0, std::memory_order_relaxed);
    }

    void setEnabled(bool enabled) { enabled_.store(enabled, std::memory_order_relaxed); }
    bool isEnabled() const { return enabled_.load(std::memory_order_relaxed); }

    // Records one entry when the trace is on (a stamp of handedToQuic also offers its key to the transport).
    void record(FrameStage stage, std::uint64_t key, std::uint64_t timeNanoseconds);
    // The entries still in the ring, oldest first. Entries being written during the call may be left out.
    std::vector<Entry> snapshot() const;
    // Forgets every entry. Not meant to race with record().
    void clear();
    std::size_t capacity() const { return slots_.size(); }

    // CLOCK_MONOTONIC (the steady clock) in nanoseconds, the clock of the capture timestamps.
    static std::uint64_t nowNanoseconds() {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }

private:
    struct Slot {
        // Position + 1 of the entry the slot holds, 0 while empty; written last.
        std::atomic<std::uint64_t> sequence{0};
        std::atomic<std::uint64_t> key{0};
        std::atomic<std::uint64_t> time{0};
        std::atomic<std::uint8_t> stage{0};
    };

    std::atomic<bool> enabled_{false};
    std::atomic<std::uint64_t> head_{0};
    std::atomic<std::uint64_t> wireKey_{0};
    std::vector<Slot> slots_;
};

// Per-stage figures over traced frames: for each stage after the first, the time from the previous stage
// of the same frame (frames missing either stamp are left out of that row), and the whole path.
struct FrameStageTable {
    struct Row {
        FrameStage from = FrameStage::damageNotify;
        FrameStage to = FrameStage::damageNotify;
        std::size_t count = 0;
        // Milliseconds.
        double p50 = 0;
        double p95 = 0;
        double p99 = 0;
    };
    std::vector<Row> rows;
    // First to last stage of frames that have both, milliseconds.
    Row total;
    // Frames with at least one stamp.
    std::size_t frameCount = 0;

    static FrameStageTable compute(const std::vector<FrameStageTrace::Entry>& entries,
                                   FrameStage first = FrameStage::damageNotify,
                                   FrameStage last = FrameStage::firstUdpSend);
};

}  // namespace quillbridge
