#include "pairing/PeerCertificateCapture.hpp"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

#include "core/ManualClock.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

const Bytes first = toBytes("first certificate");
const Bytes second = toBytes("second certificate");
const Date start = Date::fromUnixSeconds(1'700'000'000);

class PeerCertificateCaptureTests : public ::testing::Test {
protected:
    // Starts a take on the test's context; its result lands in `result` once it completes.
    void startTake() {
        asio::co_spawn(context, capture.takeHandshakeCertificate(),
                       asio::bind_cancellation_slot(
                           cancellation.slot(), [this](std::exception_ptr error, std::optional<Bytes> taken) {
                               ASSERT_FALSE(error);
                               finished = true;
                               result = std::move(taken);
                           }));
        poll();
    }
    void advance(std::chrono::milliseconds duration) {
        clock.advance(duration);
        poll();
    }
    // Runs what is ready. A context that ran out of work stops; restart it first.
    void poll() {
        context.restart();
        context.poll();
    }

    asio::io_context context;
    ManualClock clock;
    PeerCertificateCapture capture{clock};
    asio::cancellation_signal cancellation;
    bool finished = false;
    std::optional<Bytes> result;
};

TEST_F(PeerCertificateCaptureTests, RecordsFollowTheFiveSecondStalenessLimit) {
    struct Case {
        const char* name;
        double secondsAfterFirst;
        bool secondAccepted;
    };
    const Case cases[] = {
        {"one second later", 1.0, false},
        {"exactly five seconds later", 5.0, false},
        {"just over five seconds later", 5.001, true},
        {"a date before the pending one", -10.0, false},
    };
    for (const auto& item : cases) {
        ManualClock clock;
        PeerCertificateCapture capture(clock);
        EXPECT_TRUE(capture.recordHandshakeCertificate(first, start)) << item.name;
        EXPECT_EQ(capture.recordHandshakeCertificate(second, start.addingSeconds(item.secondsAfterFirst)),
                  item.secondAccepted)
            << item.name;

        asio::io_context context;
        auto taken = asio::co_spawn(context, capture.takeHandshakeCertificate(), asio::use_future);
        context.run();
        EXPECT_EQ(taken.get(), item.secondAccepted ? second : first) << item.name;
    }
}

TEST_F(PeerCertificateCaptureTests, ATakeHandsOutThePendingCertificateWhateverItsAge) {
    ASSERT_TRUE(capture.recordHandshakeCertificate(first, start.addingSeconds(-10)));
    startTake();
    EXPECT_TRUE(finished);
    EXPECT_EQ(result, first);
}

TEST_F(PeerCertificateCaptureTests, ATakeClosesTheCaptureUntilTheConnectionIsAccepted) {
    ASSERT_TRUE(capture.recordHandshakeCertificate(first, start));
    startTake();
    ASSERT_EQ(result, first);
    EXPECT_FALSE(capture.recordHandshakeCertificate(second, start.addingSeconds(60)));

    // The control stream is adopted: the next connection's handshake is admitted again.
    capture.finishAcceptingConnection();
    EXPECT_TRUE(capture.recordHandshakeCertificate(second, start.addingSeconds(61)));
}

TEST_F(PeerCertificateCaptureTests, ATakeThatFindsNothingLooksTwentyTimesOverOneSecond) {
    startTake();
    for (int look = 1; look < 20; ++look) {
        advance(50ms);
        ASSERT_FALSE(finished) << look;
        EXPECT_EQ(clock.pendingSleeperCount(), 1u);
    }
    // 950 ms: the twentieth look found nothing; the take ends when that sleep is over, without looking again.
    advance(49ms);
    EXPECT_FALSE(finished);
    advance(1ms);
    EXPECT_TRUE(finished);
    EXPECT_FALSE(result);
}

TEST_F(PeerCertificateCaptureTests, ATakeBeforeTheRecordGetsItOnItsNextLook) {
    startTake();
    advance(300ms);
    ASSERT_TRUE(capture.recordHandshakeCertificate(first, start));
    EXPECT_FALSE(finished);
    advance(49ms);
    EXPECT_FALSE(finished);
    advance(1ms);
    EXPECT_TRUE(finished);
    EXPECT_EQ(result, first);
}

TEST_F(PeerCertificateCaptureTests, ACancelledTakeReturnsNothingAtOnce) {
    // Cancelled before it starts: it does not even look.
    ASSERT_TRUE(capture.recordHandshakeCertificate(first, start));
    asio::co_spawn(context, capture.takeHandshakeCertificate(),
                   asio::bind_cancellation_slot(cancellation.slot(),
                                                [this](std::exception_ptr, std::optional<Bytes> taken) {
                                                    finished = true;
                                                    result = std::move(taken);
                                                }));
    cancellation.emit(asio::cancellation_type::terminal);
    poll();
    EXPECT_TRUE(finished);
    EXPECT_FALSE(result);

    // Cancelled while it sleeps: the sleep ends at once, without time passing.
    PeerCertificateCapture empty(clock);
    bool sleeperFinished = false;
    std::optional<Bytes> sleeperResult = toBytes("unset");
    asio::cancellation_signal signal;
    asio::co_spawn(
        context, empty.takeHandshakeCertificate(),
        asio::bind_cancellation_slot(signal.slot(), [&](std::exception_ptr, std::optional<Bytes> taken) {
            sleeperFinished = true;
            sleeperResult = std::move(taken);
        }));
    poll();
    ASSERT_FALSE(sleeperFinished);
    ASSERT_EQ(clock.pendingSleeperCount(), 1u);
    signal.emit(asio::cancellation_type::terminal);
    poll();
    EXPECT_TRUE(sleeperFinished);
    EXPECT_FALSE(sleeperResult);
    EXPECT_EQ(clock.pendingSleeperCount(), 0u);
}

TEST_F(PeerCertificateCaptureTests, OnlyOneOfManySimultaneousHandshakesIsRecorded) {
    std::atomic<int> accepted{0};
    std::vector<std::thread> threads;
    for (int index = 0; index < 8; ++index) {
        threads.emplace_back([&, index] {
            for (int round = 0; round < 100; ++round) {
                Bytes certificate{static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(round)};
                if (capture.recordHandshakeCertificate(certificate, start))
                    ++accepted;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(accepted.load(), 1);
}

}  // namespace
}  // namespace quillbridge
