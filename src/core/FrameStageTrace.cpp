#include "core/FrameStageTrace.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>
#include <unordered_map>

namespace quillbridge {

std::string_view frameStageName(FrameStage stage) {
    switch (stage) {
        case FrameStage::damageNotify:
            return "damage notify";
        case FrameStage::grabDone:
            return "grab done";
        case FrameStage::captureDone:
            return "capture done";
        case FrameStage::mailboxIn:
            return "mailbox in";
        case FrameStage::broadcasterIn:
            return "broadcaster in";
        case FrameStage::conversionDone:
            return "conversion done";
        case FrameStage::encoderOut:
            return "encoder out";
        case FrameStage::mediaQueueIn:
            return "media queue in";
        case FrameStage::handedToQuic:
            return "handed to QUIC";
        case FrameStage::firstUdpSend:
            return "first UDP send";
    }
    return "?";
}

FrameStageTrace::FrameStageTrace(std::size_t capacity)
    : slots_(std::bit_ceil(std::max<std::size_t>(capacity, 2))) {}

FrameStageTrace& FrameStageTrace::global() {
    // Never destroyed: threads may still stamp while the process exits.
    static auto* trace = new FrameStageTrace;
    return *trace;
}

void FrameStageTrace::record(FrameStage stage, std::uint64_t key, std::uint64_t timeNanoseconds) {
    if (!enabled_.load(std::memory_order_relaxed)) {
        return;
    }
    if (stage == FrameStage::handedToQuic) {
        wireKey_.store(key, std::memory_order_relaxed);
    }
    const std::uint64_t position = head_.fetch_add(1, std::memory_order_relaxed);
    Slot& slot = slots_[position & (slots_.size() - 1)];
    // Marked as being written first, so that a reader never takes half of two entries for one.
    slot.sequence.store(0, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    slot.key.store(key, std::memory_order_relaxed);
    slot.time.store(timeNanoseconds, std::memory_order_relaxed);
    slot.stage.store(static_cast<std::uint8_t>(stage), std::memory_order_relaxed);
    slot.sequence.store(position + 1, std::memory_order_release);
}

std::vector<FrameStageTrace::Entry> FrameStageTrace::snapshot() const {
    const std::uint64_t head = head_.load(std::memory_order_acquire);
    const std::uint64_t size = slots_.size();
    const std::uint64_t from = head > size ? head - size : 0;
    std::vector<Entry> entries;
    entries.reserve(static_cast<std::size_t>(head - from));
    for (std::uint64_t position = from; position < head; ++position) {
        const Slot& slot = slots_[position & (size - 1)];
        const std::uint64_t before = slot.sequence.load(std::memory_order_acquire);
        Entry entry;
        entry.key = slot.key.load(std::memory_order_relaxed);
        entry.timeNanoseconds = slot.time.load(std::memory_order_relaxed);
        entry.stage = static_cast<FrameStage>(slot.stage.load(std::memory_order_relaxed));
        std::atomic_thread_fence(std::memory_order_acquire);
        const std::uint64_t after = slot.sequence.load(std::memory_order_relaxed);
        if (before == position + 1 && after == before) {
            entries.push_back(entry);
        }
    }
    return entries;
}

void FrameStageTrace::clear() {
    for (auto& slot : slots_) {
        slot.sequence.store(0, std::memory_order_relaxed);
    }
    wireKey_.store(0, std::memory_order_relaxed);
    head_.store(0, std::memory_order_release);
}

namespace {

double percentile(const std::vector<double>& sorted, double fraction) {
    const double position = fraction * static_cast<double>(sorted.size() - 1);
    const auto lower = static_cast<std::size_t>(std::floor(position));
    const auto upper = std::min(lower + 1, sorted.size() - 1);
    return sorted[lower] + (sorted[upper] - sorted[lower]) * (position - static_cast<double>(lower));
}

FrameStageTable::Row makeRow(FrameStage from, FrameStage to, std::vector<double> values) {
    FrameStageTable::Row row{from, to, values.size(), 0, 0, 0};
    if (!values.empty()) {
        std::sort(values.begin(), values.end());
        row.p50 = percentile(values, 0.50);
        row.p95 = percentile(values, 0.95);
        row.p99 = percentile(values, 0.99);
    }
    return row;
}

}  // namespace

FrameStageTable FrameStageTable::compute(const std::vector<FrameStageTrace::Entry>& entries, FrameStage first,
                                         FrameStage last) {
    using Stamps = std::array<std::optional<std::uint64_t>, frameStageCount>;
    std::unordered_map<std::uint64_t, Stamps> frames;
    for (const auto& entry : entries) {
        auto& stamp = frames[entry.key][static_cast<std::size_t>(entry.stage)];
        // A frame encoded again (the last picture repeated) keeps the times of its first pass.
        if (!stamp) {
            stamp = entry.timeNanoseconds;
        }
    }
    const auto firstIndex = static_cast<std::size_t>(first);
    const auto lastIndex = static_cast<std::size_t>(last);
    std::vector<std::vector<double>> deltas(frameStageCount);
    std::vector<double> totals;
    for (const auto& [key, stamps] : frames) {
        for (std::size_t index = firstIndex + 1; index <= lastIndex; ++index) {
            if (stamps[index - 1] && stamps[index]) {
                deltas[index].push_back(
                    static_cast<double>(static_cast<std::int64_t>(*stamps[index] - *stamps[index - 1])) /
                    1e6);
            }
        }
        if (stamps[firstIndex] && stamps[lastIndex]) {
            totals.push_back(
                static_cast<double>(static_cast<std::int64_t>(*stamps[lastIndex] - *stamps[firstIndex])) /
                1e6);
        }
    }
    FrameStageTable table;
    table.frameCount = frames.size();
    for (std::size_t index = firstIndex + 1; index <= lastIndex; ++index) {
        table.rows.push_back(makeRow(static_cast<FrameStage>(index - 1), static_cast<FrameStage>(index),
                                     std::move(deltas[index])));
    }
    table.total = makeRow(first, last, std::move(totals));
    return table;
}

}  // namespace quillbridge
