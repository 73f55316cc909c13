#include "capture/CaptureEngine.hpp"

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/system_error.hpp>

#include "capture/CaptureStreamError.hpp"
#include "core/Task.hpp"
#include "support/FakeCaptureStream.hpp"

namespace quillbridge {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The outcome of one engine operation started on the test's main actor.
template <class T>
struct Operation {
    bool finished = false;
    std::optional<T> value;
    std::exception_ptr error;
};

class CaptureEngineTest : public ::testing::Test {
protected:
    CaptureEngineTest() : factory(std::make_shared<FakeCaptureStreamFactory>()) {
        engine = CaptureEngine::create(context.get_executor(), factory);
        filter.display.displayID = 7;
        configuration.capturesAudio = true;
    }

    void runReady() {
        context.restart();
        context.poll();
    }

    std::shared_ptr<Operation<std::uint64_t>> start() {
        auto operation = std::make_shared<Operation<std::uint64_t>>();
        asio::co_spawn(context, engine->startCapture(configuration, filter),
                       [operation](std::exception_ptr error, std::uint64_t generation) {
                           operation->finished = true;
                           operation->error = error;
                           if (!error) {
                               operation->value = generation;
                           }
                       });
        runReady();
        return operation;
    }

    std::shared_ptr<Operation<bool>> runVoid(asio::awaitable<void> awaitable) {
        auto operation = std::make_shared<Operation<bool>>();
        asio::co_spawn(context, std::move(awaitable), [operation](std::exception_ptr error) {
            operation->finished = true;
            operation->error = error;
            if (!error) {
                operation->value = true;
            }
        });
        runReady();
        return operation;
    }

    std::shared_ptr<Operation<bool>> stop(std::optional<std::uint64_t> generation = std::nullopt) {
        return runVoid(engine->stopCapture(generation));
    }

    static std::optional<CaptureStreamFailure> thrownFailure(const std::exception_ptr& error) {
        try {
            if (error) {
                std::rethrow_exception(error);
            }
        } catch (const CaptureStreamError& thrown) {
            return thrown.failure();
        } catch (...) {
        }
        return std::nullopt;
    }

    FakeCaptureStream& stream(std::size_t number) { return *factory->streams.at(number - 1); }
    const std::vector<std::string>& journal() const { return *factory->journal; }

    asio::io_context context;
    std::shared_ptr<FakeCaptureStreamFactory> factory;
    std::shared_ptr<CaptureEngine> engine;
    CaptureContentFilter filter;
    CaptureStreamConfiguration configuration;
};

TEST_F(CaptureEngineTest, StartAddsTheOutputsTheConfigurationAsksForAndReturnsItsGeneration) {
    struct Case {
        bool capturesAudio;
        std::vector<CaptureStreamOutputType> expectedOutputs;
    };
    const Case cases[] = {
        {true, {CaptureStreamOutputType::screen, CaptureStreamOutputType::audio}},
        {false, {CaptureStreamOutputType::screen}},
    };
    std::uint64_t expectedGeneration = 1;
    for (const auto& testCase : cases) {
        configuration.capturesAudio = testCase.capturesAudio;
        auto started = start();
        ASSERT_TRUE(started->finished);
        ASSERT_FALSE(started->error);
        auto& current = *factory->streams.back();
        EXPECT_EQ(current.outputTypes, testCase.expectedOutputs);
        EXPECT_TRUE(current.isRunning);
        EXPECT_EQ(current.filter.display.displayID, 7u);
        // The second start first stops the first stream (one generation), then starts its own.
        EXPECT_EQ(started->value, expectedGeneration);
        EXPECT_EQ(engine->activeStreamGeneration(), expectedGeneration);
        expectedGeneration += 2;
    }
    EXPECT_FALSE(stream(1).isRunning);
}

TEST_F(CaptureEngineTest, StopOfAnotherGenerationChangesNothingAndAnUnconditionalStopAlwaysCounts) {
    stop();
    EXPECT_EQ(engine->streamGeneration(), 1u);
    EXPECT_FALSE(engine->activeStreamGeneration());

    auto started = start();
    ASSERT_EQ(started->value, 2u);
    stop(1);
    stop(99);
    EXPECT_EQ(engine->streamGeneration(), 2u);
    EXPECT_TRUE(stream(1).isRunning);

    stop(2);
    EXPECT_EQ(engine->streamGeneration(), 3u);
    EXPECT_FALSE(engine->hasStream());
    EXPECT_FALSE(stream(1).isRunning);
    stop(2);
    EXPECT_EQ(engine->streamGeneration(), 3u);
}

TEST_F(CaptureEngineTest, StartWhileRunningStopsTheOldStreamFirstAndIgnoresItsLateStopReport) {
    std::vector<std::string> failures;
    engine->setCaptureStoppedHandler(
        [&](const CaptureStreamFailure& failure) { failures.push_back(failure.message); });
    start();
    auto oldOutput = stream(1).output;
    auto second = start();
    ASSERT_EQ(second->value, 3u);
    EXPECT_THAT(journal(), ElementsAre("make#1", "addScreenOutput#1", "addAudioOutput#1", "start#1",
                                       "started#1", "stop#1", "make#2", "addScreenOutput#2",
                                       "addAudioOutput#2", "start#2", "started#2"));

    ScopedLogCapture logs;
    oldOutput->captureStreamDidStop(CaptureStreamFailure{"D", 1, "late"});
    runReady();
    EXPECT_THAT(failures, IsEmpty());
    EXPECT_THAT(logs.messages("CaptureEngine"), IsEmpty());
    EXPECT_EQ(engine->activeStreamGeneration(), 3u);
}

TEST_F(CaptureEngineTest, AnOvertakenStartThrowsCancellationAndLeavesNoStreamRunningUnowned) {
    struct Case {
        const char* name;
        bool overtakeWithStart;
    };
    for (const auto& testCase : {Case{"stop", false}, Case{"start", true}}) {
        SCOPED_TRACE(testCase.name);
        factory = std::make_shared<FakeCaptureStreamFactory>();
        engine = CaptureEngine::create(context.get_executor(), factory);
        factory->prepare = [](FakeCaptureStream& created) { created.holdsStart = created.number == 1; };

        auto first = start();
        ASSERT_FALSE(first->finished);
        ASSERT_TRUE(stream(1).isStartPending());

        std::shared_ptr<Operation<std::uint64_t>> second;
        if (testCase.overtakeWithStart) {
            second = start();
        } else {
            stop();
        }
        stream(1).completeStart();
        runReady();

        ASSERT_TRUE(first->finished);
        EXPECT_TRUE(isOperationAborted(first->error));
        // The platform ignored the stop that came while it was starting; the engine stopped it again.
        EXPECT_FALSE(stream(1).isRunning);
        if (testCase.overtakeWithStart) {
            EXPECT_EQ(second->value, 3u);
            EXPECT_TRUE(stream(2).isRunning);
            EXPECT_EQ(engine->activeStreamGeneration(), 3u);
        } else {
            EXPECT_FALSE(engine->hasStream());
            EXPECT_FALSE(engine->activeStreamGeneration());
        }
    }
}

TEST_F(CaptureEngineTest, ARefusedOutputOrAFailedStartIsThrownAndDetachesTheStream) {
    struct Case {
        const char* name;
        std::function<void(FakeCaptureStream&)> script;
        std::vector<std::string> expectedJournal;
    };
    const Case cases[] = {
        {"screen output refused",
         [](FakeCaptureStream& s) { s.refusedOutputType = CaptureStreamOutputType::screen; },
         {"make#1", "addScreenOutput#1"}},
        {"audio output refused",
         [](FakeCaptureStream& s) { s.refusedOutputType = CaptureStreamOutputType::audio; },
         {"make#1", "addScreenOutput#1", "addAudioOutput#1"}},
        {"start fails",
         [](FakeCaptureStream& s) { s.failsStart = true; },
         {"make#1", "addScreenOutput#1", "addAudioOutput#1", "start#1"}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        factory = std::make_shared<FakeCaptureStreamFactory>();
        engine = CaptureEngine::create(context.get_executor(), factory);
        factory->prepare = testCase.script;
        auto started = start();
        ASSERT_TRUE(started->finished);
        EXPECT_EQ(thrownFailure(started->error), (CaptureStreamFailure{"FakeDomain", -1, "fake failure"}));
        EXPECT_FALSE(engine->hasStream());
        EXPECT_FALSE(engine->activeStreamGeneration());
        EXPECT_EQ(journal(), testCase.expectedJournal);
    }
}

TEST_F(CaptureEngineTest, AStreamStoppedByThePlatformIsReportedOnceLoggedAndDetached) {
    std::vector<CaptureStreamFailure> failures;
    engine->setCaptureStoppedHandler(
        [&](const CaptureStreamFailure& failure) { failures.push_back(failure); });
    std::vector<std::shared_ptr<const CapturedVideoFrame>> frames;
    engine->setScreenFrameHandler(
        [&](std::shared_ptr<const CapturedVideoFrame> frame) { frames.push_back(frame); });
    start();
    auto output = stream(1).output;
    const CaptureStreamFailure failure{std::string(captureStreamErrorDomain),
                                       captureStreamErrorCode::connectionBroken, "X server gone"};

    ScopedLogCapture logs;
    output->captureStreamDidStop(failure);
    output->captureStreamDidStop(failure);
    runReady();

    EXPECT_EQ(failures, std::vector<CaptureStreamFailure>{failure});
    EXPECT_THAT(logs.messages("CaptureEngine"),
                ElementsAre("Capture stream stopped with error: X server gone"));
    EXPECT_FALSE(engine->hasStream());
    // Nothing the stream still delivers reaches the handler after the detach.
    output->captureStreamDidOutputVideoFrame(std::make_shared<CapturedVideoFrame>());
    EXPECT_THAT(frames, IsEmpty());
}

TEST_F(CaptureEngineTest, AFailedStopIsLoggedNotThrown) {
    factory->prepare = [](FakeCaptureStream& s) { s.failsStop = true; };
    start();
    ScopedLogCapture logs;
    auto stopped = stop();
    ASSERT_TRUE(stopped->finished);
    EXPECT_FALSE(stopped->error);
    EXPECT_THAT(logs.messages("CaptureEngine"), ElementsAre("Failed to stop capture: fake failure"));
    EXPECT_FALSE(engine->hasStream());
}

TEST_F(CaptureEngineTest, UpdateAppliesConfigurationThenFilterAndStopsAtARefusal) {
    auto nothing = runVoid(engine->update(configuration, filter));
    EXPECT_TRUE(nothing->value);
    EXPECT_THAT(journal(), IsEmpty());

    start();
    auto changed = configuration;
    changed.width = 960;
    auto otherFilter = filter;
    otherFilter.display.displayID = 8;
    auto updated = runVoid(engine->update(changed, otherFilter));
    EXPECT_TRUE(updated->value);
    EXPECT_EQ(stream(1).configuration.width, 960u);
    EXPECT_EQ(stream(1).filter.display.displayID, 8u);

    stream(1).failsConfigurationUpdate = true;
    filter.display.displayID = 9;
    auto refused = runVoid(engine->update(configuration, filter));
    EXPECT_TRUE(thrownFailure(refused->error));
    EXPECT_EQ(stream(1).filter.display.displayID, 8u);
    EXPECT_EQ(engine->activeStreamGeneration(), 1u);
}

TEST_F(CaptureEngineTest, SamplesReachTheHandlerInstalledAtTheMomentAndUnusableAudioIsDropped) {
    start();
    auto output = stream(1).output;
    std::vector<std::string> received;
    engine->setScreenFrameHandler([&](auto) { received.push_back("first"); });
    output->captureStreamDidOutputVideoFrame(std::make_shared<CapturedVideoFrame>());
    engine->setScreenFrameHandler([&](auto) { received.push_back("second"); });
    output->captureStreamDidOutputVideoFrame(std::make_shared<CapturedVideoFrame>());
    engine->setScreenFrameHandler(nullptr);
    output->captureStreamDidOutputVideoFrame(std::make_shared<CapturedVideoFrame>());
    EXPECT_THAT(received, ElementsAre("first", "second"));

    std::vector<std::uint32_t> audioFrames;
    engine->setAudioBufferHandler(
        [&](std::shared_ptr<const AudioPCMBuffer> buffer) { audioFrames.push_back(buffer->frameLength); });
    auto makeBuffer = [](std::uint32_t frames, std::uint32_t channels, std::size_t samplesPerChannel) {
        auto buffer = std::make_shared<AudioPCMBuffer>();
        buffer->format = AudioPCMFormat{48000, channels, AudioSampleFormat::float32, false};
        buffer->frameLength = frames;
        buffer->floatChannels.assign(2, std::vector<float>(samplesPerChannel));
        return buffer;
    };
    output->captureStreamDidOutputAudioBuffer(makeBuffer(480, 2, 480));
    output->captureStreamDidOutputAudioBuffer(makeBuffer(480, 1, 480));  // channel arrays do not match
    output->captureStreamDidOutputAudioBuffer(makeBuffer(480, 2, 100));  // arrays shorter than the length
    auto interleaved = makeBuffer(16, 2, 16);
    interleaved->format.isInterleaved = true;
    output->captureStreamDidOutputAudioBuffer(interleaved);
    EXPECT_THAT(audioFrames, ElementsAre(480u));
}

}  // namespace
}  // namespace quillbridge
