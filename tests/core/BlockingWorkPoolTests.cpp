#include "core/BlockingWorkPool.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <asio/io_context.hpp>
#include <asio/strand.hpp>

#include "core/Task.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

// Runs the context until the predicate holds; the bound only keeps a broken build from hanging.
template <class Predicate>
bool runUntil(asio::io_context& io, Predicate predicate, std::chrono::milliseconds bound = 30s) {
    auto giveUp = std::chrono::steady_clock::now() + bound;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        io.restart();
        io.run_one_for(10ms);
    }
    return true;
}

// A gate a job waits behind until the test opens it. Waiting is bounded so a broken build cannot hang.
class Gate {
public:
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    bool wait() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

TEST(BlockingWorkPoolTests, RunsOnAWorkerAndResumesOnTheCallersStrandWithResultsAndExceptions) {
    asio::io_context io;
    BlockingWorkPool pool;  // joined before the context it resumes callers on goes away
    auto strand = asio::make_strand(io);
    const auto callerThread = std::this_thread::get_id();
    std::thread::id workerThread;
    bool resumedOnStrand = false;
    int value = 0;
    std::unique_ptr<std::string> moveOnly;
    bool voidRan = false;
    std::string failure;

    auto task = Task::spawn(strand, [&]() -> asio::awaitable<void> {
        value = co_await runBlocking(pool, [&workerThread] {
            workerThread = std::this_thread::get_id();
            return 42;
        });
        resumedOnStrand = strand.running_in_this_thread();
        moveOnly = co_await runBlocking(pool, [] { return std::make_unique<std::string>("key"); });
        co_await runBlocking(pool, [&voidRan] { voidRan = true; });
        try {
            co_await runBlocking(pool, []() -> int { throw std::invalid_argument("bad code"); });
        } catch (const std::invalid_argument& error) {
            failure = error.what();
        }
    });
    ASSERT_TRUE(runUntil(io, [&] { return task.isFinished(); }));

    EXPECT_EQ(task.outcome(), Task::Outcome::completed);
    EXPECT_EQ(value, 42);
    EXPECT_NE(workerThread, callerThread);
    EXPECT_NE(workerThread, std::thread::id{});
    EXPECT_TRUE(resumedOnStrand);
    ASSERT_TRUE(moveOnly);
    EXPECT_EQ(*moveOnly, "key");
    EXPECT_TRUE(voidRan);
    EXPECT_EQ(failure, "bad code");
}

TEST(BlockingWorkPoolTests, CancelledWaitEndsAtOnceWhileTheWorkFinishesAndIsDiscarded) {
    auto result = std::make_shared<int>(7);
    std::weak_ptr<int> watch = result;
    Gate gate;
    std::promise<void> started;
    asio::io_context io;
    auto strand = asio::make_strand(io);
    bool resumedAfterWork = false;
    {
        BlockingWorkPool pool(1);
        auto task = Task::spawn(strand, [&]() -> asio::awaitable<void> {
            auto work = [&gate, &started, result = std::move(result)]() mutable {
                started.set_value();
                gate.wait();
                return std::move(result);
            };
            co_await runBlocking(pool, std::move(work));
            resumedAfterWork = true;
        });
        io.poll();  // the body starts and hands the work over
        ASSERT_EQ(started.get_future().wait_for(30s), std::future_status::ready);

        task.cancel();
        ASSERT_TRUE(runUntil(io, [&] { return task.isFinished(); }));
        EXPECT_EQ(task.outcome(), Task::Outcome::cancelled);
        EXPECT_FALSE(watch.expired()) << "the work is still running";

        gate.open();
    }  // the pool joins its worker here
    io.restart();
    io.poll();
    EXPECT_FALSE(resumedAfterWork);
    EXPECT_TRUE(watch.expired()) << "the discarded result was not released";
}

TEST(BlockingWorkPoolTests, FullQueueRefusesAndDestructionRunsWhatWasQueued) {
    Gate gate;
    std::atomic<int> ran{0};
    asio::io_context io;
    std::string refusal;
    int firstResult = 0;
    {
        BlockingWorkPool pool(1, 1);
        std::promise<void> started;
        // One job occupies the worker, a second fills the queue.
        ASSERT_TRUE(pool.tryPost([&] {
            started.set_value();
            gate.wait();
            ++ran;
        }));
        ASSERT_EQ(started.get_future().wait_for(30s), std::future_status::ready);
        auto first = Task::spawn(io.get_executor(), [&]() -> asio::awaitable<void> {
            firstResult = co_await runBlocking(pool, [&] { return ++ran; });
        });
        io.poll();  // the body starts and queues its work

        auto refused = Task::spawn(io.get_executor(), [&]() -> asio::awaitable<void> {
            try {
                co_await runBlocking(pool, [&] { return ++ran; });
            } catch (const BlockingWorkRefused& error) {
                refusal = error.what();
            }
        });
        ASSERT_TRUE(runUntil(io, [&] { return refused.isFinished(); }));
        EXPECT_FALSE(refusal.empty());
        EXPECT_FALSE(pool.tryPost([] {}));

        gate.open();
        ASSERT_TRUE(runUntil(io, [&] { return first.isFinished(); }));
        EXPECT_EQ(firstResult, 2);
    }
    EXPECT_EQ(ran.load(), 2) << "the refused job must never run";

    // Work queued before destruction still runs before the workers are joined.
    std::atomic<int> finished{0};
    {
        BlockingWorkPool pool(2, 16);
        for (int index = 0; index < 16; ++index)
            ASSERT_TRUE(pool.tryPost([&finished] { ++finished; }));
    }
    EXPECT_EQ(finished.load(), 16);
}

TEST(BlockingWorkPoolTests, WorkersRunJobsSideBySide) {
    // Two jobs that each wait for the other can only both finish when two workers run them at once.
    asio::io_context io;
    BlockingWorkPool pool(2);
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    auto meet = [&] {
        std::unique_lock lock(mutex);
        ++arrived;
        changed.notify_all();
        return changed.wait_for(lock, 30s, [&] { return arrived == 2; });
    };
    bool first = false;
    bool second = false;
    auto a = Task::spawn(io.get_executor(),
                         [&]() -> asio::awaitable<void> { first = co_await runBlocking(pool, meet); });
    auto b = Task::spawn(io.get_executor(),
                         [&]() -> asio::awaitable<void> { second = co_await runBlocking(pool, meet); });
    ASSERT_TRUE(runUntil(
        io, [&] { return a.isFinished() && b.isFinished(); }, 60s));
    EXPECT_TRUE(first);
    EXPECT_TRUE(second);
}

}  // namespace
}  // namespace quillbridge
