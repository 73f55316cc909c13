#include "core/FrameStageTrace.hpp"

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

std::vector<std::uint64_t> keysOf(const std::vector<FrameStageTrace::Entry>& entries) {
    std::vector<std::uint64_t> keys;
    for (const auto& entry : entries) {
        keys.push_back(entry.key);
    }
    return keys;
}

TEST(FrameStageTraceTests, RecordsNothingWhileOff) {
    FrameStageTrace trace(8);
    trace.record(FrameStage::grabDone, 1, 10);
    EXPECT_TRUE(trace.snapshot().empty());

    trace.setEnabled(true);
    trace.record(FrameStage::grabDone, 2, 20);
    trace.setEnabled(false);
    trace.record(FrameStage::encoderOut, 3, 30);
    EXPECT_EQ(keysOf(trace.snapshot()), (std::vector<std::uint64_t>{2}));
}

TEST(FrameStageTraceTests, KeepsEntriesInRecordingOrderWithTheirFields) {
    FrameStageTrace trace(8);
    trace.setEnabled(true);
    trace.record(FrameStage::grabDone, 7, 100);
    trace.record(FrameStage::mailboxIn, 7, 150);
    trace.record(FrameStage::grabDone, 8, 120);
    const auto entries = trace.snapshot();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].stage, FrameStage::grabDone);
    EXPECT_EQ(entries[0].timeNanoseconds, 100u);
    EXPECT_EQ(entries[1].stage, FrameStage::mailboxIn);
    EXPECT_EQ(entries[1].key, 7u);
    EXPECT_EQ(entries[2].key, 8u);
    EXPECT_EQ(entries[2].timeNanoseconds, 120u);
}

TEST(FrameStageTraceTests, WrapsKeepingTheNewestEntriesOldestFirst) {
    FrameStageTrace trace(5);  // rounded up to 8
    ASSERT_EQ(trace.capacity(), 8u);
    trace.setEnabled(true);
    for (std::uint64_t key = 1; key <= 19; ++key) {
        trace.record(FrameStage::encoderOut, key, key * 10);
    }
    EXPECT_EQ(keysOf(trace.snapshot()), (std::vector<std::uint64_t>{12, 13, 14, 15, 16, 17, 18, 19}));

    trace.clear();
    EXPECT_TRUE(trace.snapshot().empty());
    trace.record(FrameStage::encoderOut, 42, 1);
    EXPECT_EQ(keysOf(trace.snapshot()), (std::vector<std::uint64_t>{42}));
}

TEST(FrameStageTraceTests, ConcurrentWritersLoseNoEntryAndTearNone) {
    constexpr int writers = 4;
    constexpr int perWriter = 2000;
    FrameStageTrace trace(writers * perWriter);
    trace.setEnabled(true);
    std::vector<std::thread> threads;
    for (int writer = 0; writer < writers; ++writer) {
        threads.emplace_back([&trace, writer] {
            for (int index = 0; index < perWriter; ++index) {
                const auto key = static_cast<std::uint64_t>(writer * perWriter + index + 1);
                // Every field derives from the key, so a torn entry shows.
                trace.record(static_cast<FrameStage>(key % frameStageCount), key, key * 3);
            }
        });
    }
    // A reader alongside the writers sees only whole entries.
    for (int pass = 0; pass < 20; ++pass) {
        for (const auto& entry : trace.snapshot()) {
            ASSERT_EQ(entry.timeNanoseconds, entry.key * 3);
            ASSERT_EQ(static_cast<std::size_t>(entry.stage), entry.key % frameStageCount);
        }
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto entries = trace.snapshot();
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(writers * perWriter));
    std::vector<bool> seen(writers * perWriter + 1, false);
    for (const auto& entry : entries) {
        ASSERT_EQ(entry.timeNanoseconds, entry.key * 3);
        seen[entry.key] = true;
    }
    EXPECT_EQ(std::count(seen.begin() + 1, seen.end(), true), writers * perWriter);
}

TEST(FrameStageTraceTests, HandingToQuicOffersTheKeyToTheTransportOnce) {
    auto& trace = FrameStageTrace::global();
    trace.clear();
    EXPECT_EQ(FrameStageTrace::claimWireKey(), 0u);
    FrameStageTrace::stamp(FrameStage::handedToQuic, 5);
    EXPECT_EQ(FrameStageTrace::claimWireKey(), 0u) << "the trace is off";

    trace.setEnabled(true);
    FrameStageTrace::stamp(FrameStage::handedToQuic, 9);
    EXPECT_EQ(FrameStageTrace::claimWireKey(), 9u);
    EXPECT_EQ(FrameStageTrace::claimWireKey(), 0u);
    trace.setEnabled(false);
    trace.clear();
}

TEST(FrameStageTraceTests, TableGivesEachStageItsDeltaFromThePreviousOne) {
    FrameStageTrace trace(64);
    trace.setEnabled(true);
    // Frame 1 passes every stage 1 ms apart; frame 2 misses the mailbox stamp; frame 3 stamps the grab
    // twice (only the first counts).
    for (std::size_t stage = 0; stage < frameStageCount; ++stage) {
        trace.record(static_cast<FrameStage>(stage), 1, 1'000'000 * stage);
    }
    trace.record(FrameStage::grabDone, 2, 0);
    trace.record(FrameStage::captureDone, 2, 2'000'000);
    trace.record(FrameStage::broadcasterIn, 2, 5'000'000);
    trace.record(FrameStage::damageNotify, 3, 0);
    trace.record(FrameStage::grabDone, 3, 4'000'000);
    trace.record(FrameStage::grabDone, 3, 9'000'000);

    const auto table = FrameStageTable::compute(trace.snapshot());
    EXPECT_EQ(table.frameCount, 3u);
    ASSERT_EQ(table.rows.size(), frameStageCount - 1);
    struct Expected {
        FrameStage to;
        std::size_t count;
        double p50;
    };
    const Expected expected[] = {
        {FrameStage::grabDone, 2, 2.5},       {FrameStage::captureDone, 2, 1.5},
        {FrameStage::mailboxIn, 1, 1.0},      {FrameStage::broadcasterIn, 1, 1.0},
        {FrameStage::conversionDone, 1, 1.0}, {FrameStage::firstUdpSend, 1, 1.0},
    };
    for (const auto& row : expected) {
        const auto found =
            std::find_if(table.rows.begin(), table.rows.end(),
                         [&](const FrameStageTable::Row& value) { return value.to == row.to; });
        ASSERT_NE(found, table.rows.end());
        EXPECT_EQ(found->count, row.count) << frameStageName(row.to);
        EXPECT_DOUBLE_EQ(found->p50, row.p50) << frameStageName(row.to);
        EXPECT_EQ(static_cast<int>(found->from) + 1, static_cast<int>(found->to));
    }
    EXPECT_EQ(table.total.count, 1u);
    EXPECT_DOUBLE_EQ(table.total.p50, 9.0);
}

}  // namespace
}  // namespace quillbridge
