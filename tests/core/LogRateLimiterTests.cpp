#include "core/LogRateLimiter.hpp"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/ManualClock.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

// Counts how often it is written into a message.
struct FormatCounter {
    int* count;
};

std::ostream& operator<<(std::ostream& stream, const FormatCounter& counter) {
    ++*counter.count;
    return stream << "counted";
}

class LogRateLimiterTests : public ::testing::Test {
protected:
    ManualClock clock;
    ScopedLogCapture capture{LogLevel::info};
    Logger logger{"QuicTransport"};
};

TEST_F(LogRateLimiterTests, PassesAFewPerIntervalAndSummarisesTheRestWithTheNextThatPasses) {
    LogRateLimiter limiter(logger, "Refused handshakes", {3, 10s}, &clock);
    int formatted = 0;
    for (int i = 0; i < 10; ++i)
        limiter.info("refused ", i, FormatCounter{&formatted});
    EXPECT_EQ(capture.messages("QuicTransport"),
              (std::vector<std::string>{"refused 0counted", "refused 1counted", "refused 2counted"}));
    EXPECT_EQ(formatted, 3);
    EXPECT_EQ(limiter.suppressedCount(), 7u);

    // Still inside the interval: nothing new passes.
    clock.advance(9s);
    limiter.info("refused 10");
    EXPECT_EQ(capture.records().size(), 3u);

    capture.clear();
    clock.advance(1s);
    limiter.info("refused 11");
    limiter.info("refused 12");
    EXPECT_EQ(capture.records(), (std::vector<LogRecord>{
                                     {"Quillbridge", "QuicTransport", LogLevel::info,
                                      "Refused handshakes: suppressed 8 similar messages"},
                                     {"Quillbridge", "QuicTransport", LogLevel::info, "refused 11"},
                                     {"Quillbridge", "QuicTransport", LogLevel::info, "refused 12"},
                                 }));

    // A quiet interval leaves nothing to summarise.
    capture.clear();
    clock.advance(30s);
    limiter.error("again");
    EXPECT_EQ(capture.messages("QuicTransport"), std::vector<std::string>{"again"});
    EXPECT_EQ(capture.records().front().level, LogLevel::error);
}

TEST_F(LogRateLimiterTests, RecordsBelowTheThresholdAreNeitherWrittenNorCounted) {
    LogRateLimiter limiter(logger, "Failed sends", {1, 10s}, &clock);
    int formatted = 0;
    for (int i = 0; i < 5; ++i)
        limiter.debug(FormatCounter{&formatted});
    EXPECT_EQ(formatted, 0);
    EXPECT_EQ(limiter.suppressedCount(), 0u);
    limiter.info("first");
    limiter.info("second");
    clock.advance(10s);
    limiter.info("third");
    EXPECT_EQ(capture.messages("QuicTransport"),
              (std::vector<std::string>{"first", "Failed sends: suppressed 1 similar messages", "third"}));
}

TEST_F(LogRateLimiterTests, ThreadsSharingASiteTogetherStayWithinTheLimit) {
    LogRateLimiter limiter(logger, "Failed sends", {5, 10s}, &clock);
    constexpr int threadCount = 4;
    constexpr int perThread = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&limiter] {
            for (int i = 0; i < perThread; ++i)
                limiter.info("send failed");
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(capture.records().size(), 5u);
    clock.advance(10s);
    limiter.info("later");
    const auto messages = capture.messages("QuicTransport");
    ASSERT_EQ(messages.size(), 7u);
    EXPECT_EQ(messages[5], "Failed sends: suppressed " + std::to_string(threadCount * perThread - 5) +
                               " similar messages");
}

}  // namespace
}  // namespace quillbridge
