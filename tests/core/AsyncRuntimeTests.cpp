#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/this_coro.hpp>

#include "core/Actor.hpp"
#include "core/AsyncChannel.hpp"
#include "core/AsyncStream.hpp"
#include "core/Logger.hpp"
#include "core/MainActorExecutor.hpp"
#include "core/ManualClock.hpp"
#include "core/SteadyClock.hpp"
#include "core/Task.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

// Runs every handler that is ready, without waiting for anything.
void drain(asio::io_context& io) {
    io.restart();
    io.poll();
}

// Runs the context until the predicate holds; the bound only keeps a broken build from hanging.
template <class Predicate>
bool runUntil(asio::io_context& io, Predicate predicate, std::chrono::milliseconds bound = 10s) {
    auto giveUp = std::chrono::steady_clock::now() + bound;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        io.restart();
        io.run_one_for(10ms);
    }
    return true;
}

// How a sleeping body ended.
struct SleepRecord {
    int resumed = 0;
    int aborted = 0;
};

asio::awaitable<void> sleepAndRecord(Clock& clock, Clock::Duration duration, SleepRecord& record) {
    try {
        co_await clock.sleepFor(duration);
        ++record.resumed;
    } catch (const asio::system_error& error) {
        if (error.code() == asio::error::operation_aborted)
            ++record.aborted;
        throw;
    }
}

asio::awaitable<void> sleepThenAppend(Clock& clock, Clock::Duration duration, std::vector<std::string>& order,
                                      std::string name) {
    co_await clock.sleepFor(duration);
    order.push_back(std::move(name));
}

// ---- ManualClock

TEST(ManualClockTests, SixtySecondTimeOutFiresOnlyWhenTimeIsAdvanced) {
    asio::io_context io;
    ManualClock clock;
    auto start = clock.now();
    SleepRecord record;
    Task task = Task::spawn(io.get_executor(), sleepAndRecord(clock, 60s, record));

    drain(io);
    EXPECT_EQ(clock.pendingSleeperCount(), 1u);
    EXPECT_EQ(clock.nextDeadline(), start + 60s);
    clock.advance(59s);
    drain(io);
    EXPECT_EQ(record.resumed, 0);
    EXPECT_TRUE(task.isRunning());

    clock.advance(1s);
    drain(io);
    EXPECT_EQ(record.resumed, 1);
    EXPECT_EQ(task.outcome(), Task::Outcome::completed);
    EXPECT_EQ(clock.now(), start + 60s);
    EXPECT_EQ(clock.pendingSleeperCount(), 0u);
}

TEST(ManualClockTests, DeadlineAlreadyReachedCompletesWithoutAdvancing) {
    for (auto duration : {Clock::Duration{0s}, Clock::Duration{-5s}}) {
        asio::io_context io;
        ManualClock clock;
        SleepRecord record;
        Task task = Task::spawn(io.get_executor(), sleepAndRecord(clock, duration, record));
        drain(io);
        EXPECT_EQ(record.resumed, 1) << duration.count();
        EXPECT_EQ(clock.pendingSleeperCount(), 0u);
    }
}

TEST(ManualClockTests, ResumesDueSleepersInDeadlineOrderWithTiesInArrivalOrder) {
    asio::io_context io;
    ManualClock clock;
    std::vector<std::string> order;
    std::vector<Task> tasks;
    struct Sleeper {
        const char* name;
        Clock::Duration duration;
    };
    for (auto [name, duration] : {Sleeper{"30s", 30s}, Sleeper{"10s-first", 10s}, Sleeper{"20s", 20s},
                                  Sleeper{"10s-second", 10s}, Sleeper{"5s", 5s}}) {
        tasks.push_back(Task::spawn(io.get_executor(), sleepThenAppend(clock, duration, order, name)));
    }
    drain(io);
    ASSERT_EQ(clock.pendingSleeperCount(), 5u);

    clock.advance(25s);
    drain(io);
    EXPECT_EQ(order, (std::vector<std::string>{"5s", "10s-first", "10s-second", "20s"}));
    EXPECT_EQ(clock.pendingSleeperCount(), 1u);

    clock.advanceTo(clock.now() - 10s);  // time never moves back
    clock.advance(-1s);
    drain(io);
    EXPECT_EQ(order.size(), 4u);

    clock.advance(5s);
    drain(io);
    EXPECT_EQ(order.back(), "30s");
}

asio::awaitable<void> sleepThenNoteThread(Clock& clock, asio::io_context& expected, bool& ranThere) {
    co_await clock.sleepFor(1s);
    ranThere = expected.get_executor().running_in_this_thread();
}

TEST(ManualClockTests, SleeperResumesOnItsOwnExecutor) {
    asio::io_context first;
    asio::io_context second;
    ManualClock clock;
    bool ranOnSecond = false;
    Task task = Task::spawn(second.get_executor(), sleepThenNoteThread(clock, second, ranOnSecond));
    drain(second);

    // Advanced from another thread, the resumption is posted to the sleeper's context and runs only there.
    std::thread([&] { clock.advance(1s); }).join();
    drain(first);
    EXPECT_TRUE(task.isRunning());
    drain(second);
    EXPECT_TRUE(ranOnSecond);
    EXPECT_EQ(task.outcome(), Task::Outcome::completed);
}

TEST(ManualClockTests, CancelledSleepLeavesTheQueueAndLaterAdvanceDoesNotResumeIt) {
    asio::io_context io;
    ManualClock clock;
    SleepRecord cancelled;
    SleepRecord kept;
    Task cancelledTask = Task::spawn(io.get_executor(), sleepAndRecord(clock, 10s, cancelled));
    Task keptTask = Task::spawn(io.get_executor(), sleepAndRecord(clock, 10s, kept));
    drain(io);
    ASSERT_EQ(clock.pendingSleeperCount(), 2u);

    cancelledTask.cancel();
    drain(io);
    EXPECT_EQ(clock.pendingSleeperCount(), 1u);
    EXPECT_EQ(cancelled.aborted, 1);
    EXPECT_EQ(cancelledTask.outcome(), Task::Outcome::cancelled);

    clock.advance(10s);
    drain(io);
    EXPECT_EQ(cancelled.resumed, 0);
    EXPECT_EQ(kept.resumed, 1);
}

TEST(ManualClockTests, CancellationRacingAnAdvanceResumesTheSleeperExactlyOnce) {
    // Both orders within one turn of the executor: the advance has already queued the resumption when the
    // cancellation arrives, or the cancellation has already removed the sleeper when time moves.
    for (bool advanceFirst : {true, false}) {
        asio::io_context io;
        ManualClock clock;
        SleepRecord record;
        Task task = Task::spawn(io.get_executor(), sleepAndRecord(clock, 1s, record));
        drain(io);
        if (advanceFirst) {
            clock.advance(1s);
            task.cancel();
        } else {
            task.cancel();
            drain(io);
            clock.advance(1s);
        }
        drain(io);
        EXPECT_EQ(record.resumed + record.aborted, 1) << advanceFirst;
        EXPECT_TRUE(task.isFinished());
        EXPECT_EQ(clock.pendingSleeperCount(), 0u);
    }
}

asio::awaitable<void> sleepRepeatedly(Clock& clock, int rounds, std::atomic<int>& wakeUps) {
    for (int round = 0; round < rounds; ++round) {
        co_await clock.sleepFor(1ms);
        ++wakeUps;
    }
}

TEST(ManualClockTests, AdvancingFromAnotherThreadWhileTasksAreCancelledLosesAndRepeatsNothing) {
    asio::io_context io;
    ManualClock clock;
    std::atomic<int> wakeUps{0};
    std::vector<Task> tasks;
    for (int index = 0; index < 64; ++index)
        tasks.push_back(Task::spawn(io.get_executor(), sleepRepeatedly(clock, 50, wakeUps)));

    std::atomic<bool> stop{false};
    std::thread advancer([&] {
        while (!stop) {
            clock.advance(1ms);
            std::this_thread::yield();
        }
    });
    // Cancel every other task once it has slept a few times, while the other thread keeps advancing.
    int cancelled = 0;
    bool done = runUntil(io, [&] {
        if (cancelled < 32 && wakeUps > cancelled * 40)
            tasks[2 * cancelled++].cancel();
        for (auto& task : tasks) {
            if (task.isRunning())
                return false;
        }
        return true;
    });
    stop = true;
    advancer.join();
    ASSERT_TRUE(done);

    int completed = 0;
    for (auto& task : tasks)
        completed += task.outcome() == Task::Outcome::completed ? 1 : 0;
    EXPECT_GE(completed, 32);
    EXPECT_EQ(clock.pendingSleeperCount(), 0u);
    EXPECT_LE(wakeUps, 64 * 50);
}

TEST(ManualClockTests, DestroyingTheClockAbortsItsSleepers) {
    asio::io_context io;
    SleepRecord record;
    std::optional<ManualClock> clock(std::in_place);
    Task task = Task::spawn(io.get_executor(), sleepAndRecord(*clock, 1h, record));
    drain(io);
    clock.reset();
    drain(io);
    EXPECT_EQ(record.aborted, 1);
    EXPECT_EQ(task.outcome(), Task::Outcome::cancelled);
}

// ---- SteadyClock

TEST(SteadyClockTests, SleepsAFewMilliseconds) {
    asio::io_context io;
    SteadyClock clock;
    auto start = clock.now();
    SleepRecord record;
    Task task = Task::spawn(io.get_executor(), sleepAndRecord(clock, 5ms, record));
    ASSERT_TRUE(runUntil(io, [&] { return task.isFinished(); }));
    EXPECT_EQ(record.resumed, 1);
    EXPECT_GE(clock.now() - start, 5ms);
}

// ---- Task

TEST(TaskTests, CancellingASleepingTaskEndsItAtOnceWithEitherClock) {
    struct Case {
        const char* name;
        std::function<std::unique_ptr<Clock>()> makeClock;
    };
    for (const auto& [name, makeClock] : {Case{"manual", [] { return std::make_unique<ManualClock>(); }},
                                          Case{"steady", [] { return std::make_unique<SteadyClock>(); }}}) {
        asio::io_context io;
        auto clock = makeClock();
        SleepRecord record;
        Task task = Task::spawn(io.get_executor(), sleepAndRecord(*clock, 1h, record));
        drain(io);
        ASSERT_TRUE(task.isRunning()) << name;

        task.cancel();
        EXPECT_TRUE(task.isCancellationRequested());
        // Nothing else is pending: the context runs out of work as soon as the sleep has ended.
        io.restart();
        io.run_for(10s);
        EXPECT_EQ(record.aborted, 1) << name;
        EXPECT_EQ(task.outcome(), Task::Outcome::cancelled) << name;
    }
}

TEST(TaskTests, DestroyingTheTaskCancelsIt) {
    asio::io_context io;
    ManualClock clock;
    SleepRecord record;
    {
        Task task = Task::spawn(io.get_executor(), sleepAndRecord(clock, 60s, record));
        drain(io);
        ASSERT_EQ(clock.pendingSleeperCount(), 1u);
    }
    drain(io);
    EXPECT_EQ(record.aborted, 1);
    EXPECT_EQ(clock.pendingSleeperCount(), 0u);
}

TEST(TaskTests, ReassigningCancelsThePreviousTask) {
    asio::io_context io;
    ManualClock clock;
    SleepRecord first;
    SleepRecord second;
    Task task = Task::spawn(io.get_executor(), sleepAndRecord(clock, 60s, first));
    drain(io);
    task = Task::spawn(io.get_executor(), sleepAndRecord(clock, 60s, second));
    drain(io);
    EXPECT_EQ(first.aborted, 1);
    EXPECT_TRUE(task.isRunning());
    EXPECT_EQ(clock.pendingSleeperCount(), 1u);
}

TEST(TaskTests, CancelledBeforeItFirstRunsTheBodyStopsAtItsFirstAwait) {
    asio::io_context io;
    ManualClock clock;
    SleepRecord record;
    Task task = Task::spawn(io.get_executor(), sleepAndRecord(clock, 1s, record));
    task.cancel();
    drain(io);
    EXPECT_EQ(task.outcome(), Task::Outcome::cancelled);
    EXPECT_EQ(record.aborted, 1);
    EXPECT_EQ(clock.pendingSleeperCount(), 0u);
}

asio::awaitable<void> fail(std::string text) {
    co_await asio::this_coro::executor;
    throw std::runtime_error(text);
}

TEST(TaskTests, FailureIsLoggedAndNeverReachesTheExecutor) {
    ScopedLogCapture capture;
    asio::io_context io;
    Task named = Task::spawn(io.get_executor(), fail("boom"), "watcher");
    Task unnamed = Task::spawn(io.get_executor(), fail("bang"));
    EXPECT_NO_THROW(drain(io));
    EXPECT_EQ(named.outcome(), Task::Outcome::failed);
    EXPECT_EQ(capture.messages("Task"),
              (std::vector<std::string>{"Task watcher failed: boom", "Task failed: bang"}));
    EXPECT_EQ(capture.records().front().level, LogLevel::error);
}

TEST(TaskTests, CancellationIsNotLoggedAsAFailure) {
    ScopedLogCapture capture;
    asio::io_context io;
    ManualClock clock;
    SleepRecord record;
    Task task = Task::spawn(io.get_executor(), sleepAndRecord(clock, 1s, record));
    drain(io);
    task.cancel();
    drain(io);
    EXPECT_EQ(task.outcome(), Task::Outcome::cancelled);
    EXPECT_TRUE(capture.records().empty());
}

asio::awaitable<void> joinAndRecord(const Task& task, SleepRecord& record) {
    try {
        co_await task.join();
        ++record.resumed;
    } catch (const asio::system_error& error) {
        if (error.code() == asio::error::operation_aborted)
            ++record.aborted;
        throw;
    }
}

TEST(TaskTests, JoinCompletesWhenTheBodyEndsAndACancelledJoinerStopsWaiting) {
    asio::io_context io;
    ManualClock clock;
    SleepRecord body;
    Task task = Task::spawn(io.get_executor(), sleepAndRecord(clock, 5s, body));
    SleepRecord joined;
    SleepRecord abandoned;
    Task joiner = Task::spawn(io.get_executor(), joinAndRecord(task, joined));
    Task impatient = Task::spawn(io.get_executor(), joinAndRecord(task, abandoned));
    drain(io);
    impatient.cancel();
    drain(io);
    EXPECT_EQ(abandoned.aborted, 1);
    EXPECT_TRUE(task.isRunning());
    EXPECT_EQ(joined.resumed, 0);

    clock.advance(5s);
    drain(io);
    EXPECT_EQ(joined.resumed, 1);
    EXPECT_TRUE(joiner.isFinished());

    // Joining a finished or an empty task completes at once.
    SleepRecord late;
    Task empty;
    Task lateJoiner = Task::spawn(io.get_executor(), joinAndRecord(task, late));
    Task emptyJoiner = Task::spawn(io.get_executor(), joinAndRecord(empty, late));
    drain(io);
    EXPECT_EQ(late.resumed, 2);
    EXPECT_TRUE(empty.isFinished());
    EXPECT_FALSE(empty.outcome().has_value());
}

struct CancellationChecks {
    bool cancelledAfterAbortedSleep = false;
    bool checkThrew = false;
};

asio::awaitable<void> checkCancellationAfterAwait(Clock& clock, CancellationChecks& checks) {
    try {
        co_await clock.sleepFor(1h);
    } catch (const asio::system_error&) {
    }
    checks.cancelledAfterAbortedSleep = isCancelled(co_await asio::this_coro::cancellation_state);
    try {
        co_await throwIfCancelled();
    } catch (const asio::system_error& error) {
        checks.checkThrew = error.code() == asio::error::operation_aborted;
    }
}

TEST(TaskTests, BodyCanAskWhetherItWasCancelled) {
    for (bool cancel : {true, false}) {
        asio::io_context io;
        ManualClock clock;
        CancellationChecks checks;
        Task task = Task::spawn(io.get_executor(), checkCancellationAfterAwait(clock, checks));
        drain(io);
        if (cancel) {
            task.cancel();
        } else {
            clock.advance(1h);
        }
        drain(io);
        EXPECT_EQ(checks.cancelledAfterAbortedSleep, cancel);
        EXPECT_EQ(checks.checkThrew, cancel);
        EXPECT_EQ(task.outcome(), Task::Outcome::completed);
    }
}

TEST(TaskTests, SpawnFromALambdaKeepsItsCapturesAlive) {
    asio::io_context io;
    ManualClock clock;
    std::vector<std::string> order;
    Task task = Task::spawn(io.get_executor(),
                            [&clock, &order, name = std::string("captured")]() -> asio::awaitable<void> {
                                co_await clock.sleepFor(1s);
                                order.push_back(name);
                            });
    drain(io);
    clock.advance(1s);
    drain(io);
    EXPECT_EQ(order, std::vector<std::string>{"captured"});
}

// ---- Actor

struct Counter {
    explicit Counter(const asio::any_io_executor& executor) : actor(executor) {}
    Actor actor;
    int value = 0;  // touched only on the actor
    std::atomic<int> offActorTouches{0};
};

asio::awaitable<void> incrementMany(Counter& counter, int times) {
    for (int index = 0; index < times; ++index) {
        co_await counter.actor.call([&counter] {
            if (!counter.actor.isCurrent())
                ++counter.offActorTouches;
            int seen = counter.value;
            std::this_thread::yield();
            counter.value = seen + 1;
        });
    }
}

TEST(ActorTests, StateIsTouchedOnlyOnTheActorEvenFromManyThreads) {
    asio::io_context io;
    Counter counter(io.get_executor());
    std::vector<Task> tasks;
    for (int index = 0; index < 8; ++index)
        tasks.push_back(Task::spawn(io.get_executor(), incrementMany(counter, 200)));
    EXPECT_FALSE(counter.actor.isCurrent());

    std::vector<std::thread> threads;
    for (int index = 0; index < 4; ++index)
        threads.emplace_back([&] { io.run(); });
    for (auto& thread : threads)
        thread.join();

    EXPECT_EQ(counter.value, 8 * 200);
    EXPECT_EQ(counter.offActorTouches, 0);
}

// One actor, two of its coroutines: the first reads a generation counter, sleeps, and re-checks it
// afterwards.
struct Session {
    explicit Session(const asio::any_io_executor& executor) : actor(executor) {}
    Actor actor;
    int generation = 0;
    std::vector<std::string> events;
};

asio::awaitable<void> finishSetUp(Session& session, Clock& clock) {
    int generation = session.generation;
    session.events.push_back("set-up started");
    co_await clock.sleepFor(1s);
    session.events.push_back(session.generation == generation ? "set-up applied" : "set-up stale");
}

asio::awaitable<void> reset(Session& session) {
    ++session.generation;
    session.events.push_back("reset");
    co_return;
}

TEST(ActorTests, OtherWorkInterleavesAtEveryAwait) {
    asio::io_context io;
    ManualClock clock;
    Session session(io.get_executor());
    Task setUp = Task::spawn(session.actor.executor(), finishSetUp(session, clock));
    drain(io);
    Task resetter = Task::spawn(session.actor.executor(), reset(session));
    drain(io);
    clock.advance(1s);
    drain(io);
    EXPECT_EQ(session.events, (std::vector<std::string>{"set-up started", "reset", "set-up stale"}));
}

asio::awaitable<int> sleepAndCount(Clock& clock, int& value) {
    co_await clock.sleepFor(1s);
    co_return ++value;
}

asio::awaitable<void> askActor(Actor& actor, Clock& clock, int& value, std::vector<std::string>& results) {
    int first = co_await actor.run([&]() { return sleepAndCount(clock, value); });
    results.push_back("result " + std::to_string(first));
    try {
        co_await actor.run([]() -> asio::awaitable<void> {
            co_await asio::this_coro::executor;
            throw std::runtime_error("refused");
        });
    } catch (const std::runtime_error& error) {
        results.push_back(error.what());
    }
    bool onActor = co_await actor.call([&actor] { return actor.isCurrent(); });
    results.push_back(onActor ? "on actor" : "off actor");
    results.push_back(actor.isCurrent() ? "resumed on actor" : "resumed on caller");
}

TEST(ActorTests, RunReturnsResultsAndExceptionsToTheCaller) {
    asio::io_context io;
    ManualClock clock;
    Actor actor(io.get_executor());
    int value = 41;
    std::vector<std::string> results;
    Task task = Task::spawn(io.get_executor(), askActor(actor, clock, value, results));
    drain(io);
    clock.advance(1s);
    drain(io);
    EXPECT_EQ(results, (std::vector<std::string>{"result 42", "refused", "on actor", "resumed on caller"}));
    EXPECT_EQ(task.outcome(), Task::Outcome::completed);
}

TEST(ActorTests, CancellingTheCallerCancelsTheWorkItAwaitsOnTheActor) {
    asio::io_context io;
    ManualClock clock;
    Actor actor(io.get_executor());
    int value = 0;
    std::vector<std::string> results;
    Task task = Task::spawn(io.get_executor(), askActor(actor, clock, value, results));
    drain(io);
    ASSERT_EQ(clock.pendingSleeperCount(), 1u);
    task.cancel();
    drain(io);
    EXPECT_EQ(clock.pendingSleeperCount(), 0u);
    EXPECT_EQ(task.outcome(), Task::Outcome::cancelled);
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(results.empty());
}

TEST(ActorTests, PostedWorkRunsLaterInOrder) {
    asio::io_context io;
    Actor actor(io.get_executor());
    std::vector<int> order;
    for (int index = 0; index < 3; ++index) {
        actor.post([&order, &actor, index] {
            if (actor.isCurrent())
                order.push_back(index);
        });
    }
    EXPECT_TRUE(order.empty());
    drain(io);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

// ---- AsyncChannel

asio::awaitable<void> receiveAll(AsyncChannel<std::string>& channel, std::vector<std::string>& received,
                                 bool& ended) {
    while (auto value = co_await channel.receive())
        received.push_back(*value);
    ended = true;
}

asio::awaitable<void> sendAll(AsyncChannel<std::string>& channel, std::vector<std::string> values,
                              std::vector<bool>& accepted) {
    for (auto& value : values)
        accepted.push_back(co_await channel.send(value));
}

TEST(AsyncChannelTests, ReceiverGetsValuesInOrderAndEndsWhenClosed) {
    asio::io_context io;
    AsyncChannel<std::string> channel;
    std::vector<std::string> received;
    bool ended = false;
    std::vector<bool> accepted;
    Task receiver = Task::spawn(io.get_executor(), receiveAll(channel, received, ended));
    Task sender = Task::spawn(io.get_executor(), sendAll(channel, {"a", "b", "c"}, accepted));
    drain(io);
    EXPECT_EQ(received, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_FALSE(ended);

    channel.close();
    drain(io);
    EXPECT_TRUE(ended);
    EXPECT_EQ(receiver.outcome(), Task::Outcome::completed);
    EXPECT_FALSE(channel.isOpen());

    Task late = Task::spawn(io.get_executor(), sendAll(channel, {"d"}, accepted));
    drain(io);
    EXPECT_EQ(accepted, (std::vector<bool>{true, true, true, false}));
    EXPECT_FALSE(channel.trySend("e"));
}

TEST(AsyncChannelTests, WaitingSendersResumeInOrderAndClosingReleasesTheRest) {
    asio::io_context io;
    AsyncChannel<std::string> channel(1);
    std::vector<bool> firstAccepted;
    std::vector<bool> secondAccepted;
    Task first = Task::spawn(io.get_executor(), sendAll(channel, {"a", "b", "c"}, firstAccepted));
    drain(io);
    Task second = Task::spawn(io.get_executor(), sendAll(channel, {"x"}, secondAccepted));
    drain(io);
    // "a" fills the buffer; "b" and "x" wait.
    EXPECT_EQ(firstAccepted, std::vector<bool>{true});
    EXPECT_TRUE(secondAccepted.empty());
    EXPECT_FALSE(channel.trySend("refused while full"));

    std::vector<std::string> received;
    bool ended = false;
    Task receiver = Task::spawn(io.get_executor(), [&]() -> asio::awaitable<void> {
        for (int count = 0; count < 2; ++count)
            received.push_back(*co_await channel.receive());
    });
    drain(io);
    EXPECT_EQ(received, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(secondAccepted, std::vector<bool>{true});  // "x" moved into the buffer
    ASSERT_EQ(firstAccepted.size(), 2u);                 // "c" waits

    channel.close();
    drain(io);
    EXPECT_EQ(firstAccepted, (std::vector<bool>{true, true, false}));
    EXPECT_TRUE(first.isFinished());
    // What was buffered before the close is still delivered, then the end.
    Task drainer = Task::spawn(io.get_executor(), receiveAll(channel, received, ended));
    drain(io);
    EXPECT_EQ(received, (std::vector<std::string>{"a", "b", "x"}));
    EXPECT_TRUE(ended);
}

TEST(AsyncChannelTests, UnbufferedSendWaitsForAReceiver) {
    asio::io_context io;
    AsyncChannel<std::string> channel;
    std::vector<bool> accepted;
    Task sender = Task::spawn(io.get_executor(), sendAll(channel, {"a"}, accepted));
    drain(io);
    EXPECT_TRUE(sender.isRunning());
    EXPECT_FALSE(channel.trySend("b"));

    std::vector<std::string> received;
    bool ended = false;
    Task receiver = Task::spawn(io.get_executor(), receiveAll(channel, received, ended));
    drain(io);
    EXPECT_EQ(accepted, std::vector<bool>{true});
    EXPECT_EQ(received, std::vector<std::string>{"a"});
    EXPECT_TRUE(channel.trySend("b"));  // the receiver waits again
    drain(io);
    EXPECT_EQ(received.back(), "b");
}

TEST(AsyncChannelTests, CancelledWaitsThrowOperationAbortedAndLeaveTheChannelAsItWas) {
    asio::io_context io;
    AsyncChannel<std::string> channel(2);
    std::vector<std::string> received;
    bool ended = false;
    Task receiver = Task::spawn(io.get_executor(), receiveAll(channel, received, ended));
    drain(io);
    receiver.cancel();
    drain(io);
    EXPECT_EQ(receiver.outcome(), Task::Outcome::cancelled);
    EXPECT_FALSE(ended);

    // Still buffered with room for two, and the cancelled receive took nothing.
    EXPECT_TRUE(channel.trySend("kept"));
    EXPECT_TRUE(channel.trySend("also kept"));
    std::vector<bool> accepted;
    Task sender = Task::spawn(io.get_executor(), sendAll(channel, {"dropped"}, accepted));
    drain(io);
    sender.cancel();
    drain(io);
    EXPECT_EQ(sender.outcome(), Task::Outcome::cancelled);
    EXPECT_TRUE(accepted.empty());
    channel.close();
    Task drainer = Task::spawn(io.get_executor(), receiveAll(channel, received, ended));
    drain(io);
    EXPECT_EQ(received, (std::vector<std::string>{"kept", "also kept"}));
}

// ---- AsyncStream

asio::awaitable<void> consume(AsyncStream<int>& stream, std::vector<int>& received, bool& ended) {
    while (auto value = co_await stream.next())
        received.push_back(*value);
    ended = true;
}

TEST(AsyncStreamTests, ProducerNeverWaitsAndValuesArriveInOrderUntilFinished) {
    asio::io_context io;
    AsyncStream<int> stream;
    for (int value = 0; value < 1000; ++value)
        ASSERT_TRUE(stream.yield(value));
    EXPECT_EQ(stream.bufferedCount(), 1000u);

    std::vector<int> received;
    bool ended = false;
    Task consumer = Task::spawn(io.get_executor(), consume(stream, received, ended));
    drain(io);
    EXPECT_EQ(received.size(), 1000u);
    EXPECT_EQ(received.back(), 999);

    stream.yield(1000);
    stream.finish();
    EXPECT_FALSE(stream.yield(1001));
    drain(io);
    EXPECT_EQ(received.back(), 1000);
    EXPECT_TRUE(ended);
}

TEST(AsyncStreamTests, BufferedValuesOutliveFinishAndACancelledWaitLosesNothing) {
    asio::io_context io;
    AsyncStream<int> stream;
    std::vector<int> received;
    bool ended = false;
    Task impatient = Task::spawn(io.get_executor(), consume(stream, received, ended));
    drain(io);
    impatient.cancel();
    drain(io);
    EXPECT_EQ(impatient.outcome(), Task::Outcome::cancelled);

    stream.yield(1);
    stream.yield(2);
    stream.finish();
    Task consumer = Task::spawn(io.get_executor(), consume(stream, received, ended));
    drain(io);
    EXPECT_EQ(received, (std::vector<int>{1, 2}));
    EXPECT_TRUE(ended);
}

TEST(AsyncStreamTests, ProducerOnAnotherThread) {
    asio::io_context io;
    AsyncStream<int> stream;
    std::vector<int> received;
    bool ended = false;
    Task consumer = Task::spawn(io.get_executor(), consume(stream, received, ended));
    std::thread producer([&] {
        for (int value = 0; value < 2000; ++value)
            stream.yield(value);
        stream.finish();
    });
    bool done = runUntil(io, [&] { return ended; });
    producer.join();
    ASSERT_TRUE(done);
    ASSERT_EQ(received.size(), 2000u);
    for (int value = 0; value < 2000; ++value)
        ASSERT_EQ(received[value], value);
}

// ---- Main actor executor

// The main thread's event loop, reduced to a queue that the test drains itself.
class QueuedMainThread final : public MainThreadQueue {
public:
    void enqueue(std::move_only_function<void()> work) override {
        std::lock_guard lock(mutex_);
        work_.push_back(std::move(work));
    }

    // Runs what is queued, including work queued meanwhile; returns how many items ran.
    int drain() {
        int count = 0;
        for (;;) {
            std::move_only_function<void()> work;
            {
                std::lock_guard lock(mutex_);
                if (work_.empty())
                    return count;
                work = std::move(work_.front());
                work_.pop_front();
            }
            work();
            ++count;
        }
    }

    std::thread::id thread = std::this_thread::get_id();

private:
    std::mutex mutex_;
    std::deque<std::move_only_function<void()>> work_;
};

asio::awaitable<void> noteThreadsAroundSleep(Clock& clock, std::vector<std::thread::id>& threads) {
    threads.push_back(std::this_thread::get_id());
    co_await clock.sleepFor(2ms);
    threads.push_back(std::this_thread::get_id());
}

TEST(MainActorExecutorTests, WorkRunsOnlyWhenTheMainThreadDrainsItsQueue) {
    asio::io_context services;
    auto mainThread = std::make_shared<QueuedMainThread>();
    asio::any_io_executor mainActor = MainActorExecutor(mainThread, services);
    ManualClock clock;
    std::vector<std::string> order;
    Task task = Task::spawn(mainActor, sleepThenAppend(clock, 1s, order, "woke"));
    EXPECT_TRUE(task.isRunning());
    EXPECT_GT(mainThread->drain(), 0);
    clock.advance(1s);
    EXPECT_TRUE(order.empty());
    mainThread->drain();
    EXPECT_EQ(order, std::vector<std::string>{"woke"});
    EXPECT_EQ(task.outcome(), Task::Outcome::completed);
}

TEST(MainActorExecutorTests, TimerCompletionsComeBackToTheMainThread) {
    asio::io_context services;
    auto guard = asio::make_work_guard(services);
    std::thread serviceThread([&] { services.run(); });
    auto mainThread = std::make_shared<QueuedMainThread>();
    MainActorExecutor mainActor(mainThread, services);
    SteadyClock clock;
    std::vector<std::thread::id> threads;
    Task task = Task::spawn(mainActor, noteThreadsAroundSleep(clock, threads));

    auto giveUp = std::chrono::steady_clock::now() + 10s;
    while (task.isRunning() && std::chrono::steady_clock::now() < giveUp) {
        if (mainThread->drain() == 0)
            std::this_thread::sleep_for(1ms);
    }
    guard.reset();
    serviceThread.join();
    ASSERT_EQ(task.outcome(), Task::Outcome::completed);
    EXPECT_EQ(threads, (std::vector<std::thread::id>{mainThread->thread, mainThread->thread}));
}

}  // namespace
}  // namespace quillbridge
