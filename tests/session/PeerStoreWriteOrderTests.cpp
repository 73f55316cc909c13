// The order of peer-store writes on several workers.

#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "session/PeerStoreWriteOrder.hpp"

namespace quillbridge {
namespace {

TEST(PeerStoreWriteOrderTest, WritesRunInTurnOrderAndATurnDroppedUnrunHoldsNoOneBack) {
    auto order = PeerStoreWriteOrder::create();
    std::vector<PeerStoreWriteOrder::Turn> turns;
    for (int index = 0; index < 5; ++index) {
        turns.push_back(order->take());
    }
    // Moving a turn keeps its place; dropping one that never ran ends it.
    PeerStoreWriteOrder::Turn moved = std::move(turns[1]);
    turns[3] = PeerStoreWriteOrder::Turn();

    std::mutex mutex;
    std::vector<int> ran;
    auto write = [&](PeerStoreWriteOrder::Turn turn, int number) {
        turn.wait();
        {
            std::lock_guard lock(mutex);
            ran.push_back(number);
        }
        turn.end();
    };
    // The later writes reach their workers first.
    std::vector<std::thread> workers;
    workers.emplace_back(write, std::move(turns[4]), 4);
    workers.emplace_back(write, std::move(turns[2]), 2);
    workers.emplace_back(write, std::move(moved), 1);
    write(std::move(turns[0]), 0);
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 4}));

    // Turns taken afterwards go at once.
    auto next = order->take();
    next.wait();
}

}  // namespace
}  // namespace quillbridge
