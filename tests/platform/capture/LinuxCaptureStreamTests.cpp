#include "platform/linux/capture/LinuxCaptureStream.hpp"

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

#include "capture/CaptureEngine.hpp"
#include "platform/linux/capture/LinuxCaptureStreamFactory.hpp"

namespace quillbridge {
namespace {

template <class Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

class LinuxCaptureStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_X11") == nullptr ||
            std::getenv("QUILLBRIDGE_TEST_PULSE") == nullptr) {
            GTEST_SKIP() << "needs tests/support/run-desktop-services.sh --x11 --pulse";
        }
        engine = CaptureEngine::create(context.get_executor(), std::make_shared<LinuxCaptureStreamFactory>());
        engine->setScreenFrameHandler([this](std::shared_ptr<const CapturedVideoFrame> frame) {
            std::lock_guard lock(mutex);
            frames += frame->imageBuffer != nullptr;
        });
        engine->setAudioBufferHandler([this](std::shared_ptr<const AudioPCMBuffer> buffer) {
            std::lock_guard lock(mutex);
            audioFrames += buffer->frameLength;
        });
        filter.display.frame = CaptureRect{0, 0, 1920, 1080};
        configuration.width = 960;
        configuration.height = 540;
        configuration.capturesAudio = true;
    }

    template <class T>
    T run(asio::awaitable<T> awaitable) {
        auto future = asio::co_spawn(context, std::move(awaitable), asio::use_future);
        context.restart();
        context.run();
        return future.get();
    }

    bool received(int minimumFrames, std::uint64_t minimumAudioFrames) {
        return eventually([&] {
            std::lock_guard lock(mutex);
            return frames >= minimumFrames && audioFrames >= minimumAudioFrames;
        });
    }

    asio::io_context context;
    std::shared_ptr<CaptureEngine> engine;
    CaptureContentFilter filter;
    CaptureStreamConfiguration configuration;
    std::mutex mutex;
    int frames = 0;
    std::uint64_t audioFrames = 0;
};

TEST_F(LinuxCaptureStreamTest, TheEngineDeliversScreenFramesAndSystemAudio) {
    const auto generation = run(engine->startCapture(configuration, filter));
    EXPECT_EQ(generation, 1u);
    // The null sink's monitor delivers silence continuously, so audio arrives without anything playing.
    EXPECT_TRUE(received(1, 4800));
    run(engine->stopCapture(generation));
    EXPECT_FALSE(engine->hasStream());
}

TEST_F(LinuxCaptureStreamTest, WithoutASoundServerVideoStillRuns) {
    const std::string saved = std::getenv("PULSE_SERVER");
    setenv("PULSE_SERVER", "unix:/nonexistent/quillbridge/native", 1);
    const auto generation = run(engine->startCapture(configuration, filter));
    setenv("PULSE_SERVER", saved.c_str(), 1);
    EXPECT_TRUE(received(1, 0));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(audioFrames, 0u);
    }
    run(engine->stopCapture(generation));
}

}  // namespace
}  // namespace quillbridge
