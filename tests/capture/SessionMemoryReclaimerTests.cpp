#include "capture/SessionMemoryReclaimer.hpp"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "core/ManualClock.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

class SessionMemoryReclaimerTest : public ::testing::Test {
protected:
    void settle() {
        context.restart();
        context.poll();
    }
    void advance(Clock::Duration duration) {
        clock->advance(duration);
        settle();
    }

    asio::io_context context;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    int reclaims = 0;
    SessionMemoryReclaimer reclaimer{context.get_executor(), clock, [this] { ++reclaims; }, 2s};
};

// Each row: the states reported, one second apart, and how many reclaims follow once everything settles.
TEST_F(SessionMemoryReclaimerTest, ReclaimsOnceAfterEachSessionThatStayedOver) {
    struct Row {
        std::string name;
        std::vector<bool> busy;
        int reclaims;
    };
    const std::vector<Row> rows{
        {"a host that never had a session", {false, false, false}, 0},
        {"one session", {true, false}, 1},
        {"idle reported again and again", {true, false, false, false, false}, 1},
        {"busy reported again and again", {true, true, true, false}, 1},
        {"two sessions", {true, false, false, false, true, false}, 2},
        {"a new session within the settle delay", {true, false, true, false}, 1},
        {"still busy at the end", {true, false, false, false, true}, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        reclaims = 0;
        for (const bool busy : row.busy) {
            reclaimer.update(busy);
            settle();
            advance(1s);
        }
        advance(10s);
        EXPECT_EQ(reclaims, row.reclaims);
        reclaimer.update(true);
        reclaimer.update(false);
        settle();
        advance(10s);
        reclaims = 0;
    }
}

TEST_F(SessionMemoryReclaimerTest, WaitsTheSettleDelayBeforeReclaiming) {
    reclaimer.update(true);
    reclaimer.update(false);
    settle();
    advance(1999ms);
    EXPECT_EQ(reclaims, 0);
    EXPECT_TRUE(reclaimer.isReclaimPending());
    advance(1ms);
    EXPECT_EQ(reclaims, 1);
    EXPECT_FALSE(reclaimer.isReclaimPending());
}

}  // namespace
}  // namespace quillbridge
