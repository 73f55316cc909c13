#include "platform/linux/x11/XcbScreenCaptureStream.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "capture/CaptureStreamError.hpp"
#include "platform/linux/x11/RandRDisplayProvider.hpp"
#include "session/VideoColorAttachmentKeys.hpp"
#include "support/RunAwaitable.hpp"

namespace quillbridge {
namespace {

constexpr auto generousBound = std::chrono::seconds(20);
constexpr std::uint32_t background = 0x202020;
constexpr std::uint32_t blockColor = 0x3366CC;

std::uint64_t monotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(now.tv_nsec);
}

// Waits until the condition holds, checking it whenever `changed` is notified or every few milliseconds.
template <class Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + generousBound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

// Collects what a stream delivers, from its capture thread.
class RecordingOutput final : public CaptureStreamOutput {
public:
    void captureStreamDidOutputVideoFrame(std::shared_ptr<const CapturedVideoFrame> frame) override {
        std::lock_guard lock(mutex_);
        frames_.push_back(std::move(frame));
    }
    void captureStreamDidOutputAudioBuffer(std::shared_ptr<AudioPCMBuffer>) override {}
    void captureStreamDidStop(const CaptureStreamFailure& failure) override {
        std::lock_guard lock(mutex_);
        failures_.push_back(failure);
    }

    std::vector<std::shared_ptr<const CapturedVideoFrame>> frames() const {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    std::vector<CaptureStreamFailure> failures() const {
        std::lock_guard lock(mutex_);
        return failures_;
    }
    // Waits for a delivered frame, after the first `skip` frames, that satisfies the predicate.
    std::shared_ptr<const CapturedVideoFrame> waitForFrame(
        std::function<bool(const CapturedVideoFrame&)> predicate, std::size_t skip = 0) const {
        std::shared_ptr<const CapturedVideoFrame> found;
        eventually([&] {
            auto all = frames();
            for (std::size_t index = skip; index < all.size(); ++index) {
                if (predicate(*all[index])) {
                    found = all[index];
                    return true;
                }
            }
            return false;
        });
        return found;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<const CapturedVideoFrame>> frames_;
    std::vector<CaptureStreamFailure> failures_;
};

bool isComplete(const CapturedVideoFrame& frame) {
    return frame.status == CapturedFrameStatus::complete && frame.imageBuffer;
}
bool isIdle(const CapturedVideoFrame& frame) {
    return frame.status == CapturedFrameStatus::idle;
}

// The 0xRRGGBB colour of a frame's pixel.
std::uint32_t pixelAt(const CapturedVideoFrame& frame, int x, int y) {
    const auto& plane = frame.imageBuffer->planes.at(0);
    const std::uint8_t* pixel = plane.data + static_cast<std::size_t>(y) * plane.bytesPerRow + x * 4;
    return (std::uint32_t{pixel[2]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[0];
}

// Whether two 0xRRGGBB colours differ by at most 3 in every channel (upscaling interpolates).
bool nearColor(std::uint32_t a, std::uint32_t b) {
    for (int shift : {0, 8, 16}) {
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 3) {
            return false;
        }
    }
    return true;
}

// A test X client that paints the root window and shows coloured blocks.
class TestXClient {
public:
    TestXClient() : connection_(XcbConnection::open()) {}
    bool isConnected() const { return connection_ != nullptr; }

    void paintRoot(std::uint32_t color) {
        xcb_change_window_attributes(c(), connection_->root(), XCB_CW_BACK_PIXEL, &color);
        xcb_clear_area(c(), 0, connection_->root(), 0, 0, 0, 0);
        sync();
    }

    xcb_window_t showBlock(int x, int y, int width, int height, std::uint32_t color) {
        const xcb_window_t window = xcb_generate_id(c());
        const std::uint32_t values[] = {color, 1};
        xcb_create_window(c(), XCB_COPY_FROM_PARENT, window, connection_->root(),
                          static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                          static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, connection_->screen()->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(c(), window);
        sync();
        return window;
    }

    void move(xcb_window_t window, int x, int y) {
        const std::uint32_t values[] = {static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)};
        xcb_configure_window(c(), window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
        sync();
    }

    void destroy(xcb_window_t window) {
        xcb_destroy_window(c(), window);
        sync();
    }

    void warpPointer(int x, int y) {
        xcb_warp_pointer(c(), XCB_NONE, connection_->root(), 0, 0, 0, 0, static_cast<std::int16_t>(x),
                         static_cast<std::int16_t>(y));
        sync();
    }

private:
    xcb_connection_t* c() const { return connection_->get(); }
    void sync() {
        XcbReply<xcb_get_input_focus_reply_t> reply(
            xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr));
    }

    std::unique_ptr<XcbConnection> connection_;
};

class XcbScreenCaptureStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_X11") == nullptr) {
            GTEST_SKIP() << "needs the private Xvfb of tests/support/run-desktop-services.sh --x11";
        }
        ASSERT_TRUE(client.isConnected());
        client.paintRoot(background);
        // Keep the pointer in a corner, away from what the tests look at.
        client.warpPointer(1900, 1060);
    }

    static CaptureContentFilter wholeScreen() {
        CaptureContentFilter filter;
        filter.display.frame = CaptureRect{0, 0, 1920, 1080};
        return filter;
    }

    static CaptureStreamConfiguration configuration(std::uint32_t width, std::uint32_t height,
                                                    bool showsCursor) {
        CaptureStreamConfiguration result;
        result.width = width;
        result.height = height;
        result.showsCursor = showsCursor;
        result.minimumFrameInterval = CaptureFrameInterval::perSecond(120);
        return result;
    }

    std::unique_ptr<XcbScreenCaptureStream> makeStream(CaptureContentFilter filter,
                                                       CaptureStreamConfiguration configuration,
                                                       bool allowSharedMemory = true) {
        auto stream = std::make_unique<XcbScreenCaptureStream>(
            XcbScreenCaptureStream::Options{{}, allowSharedMemory}, std::move(filter), configuration, output);
        EXPECT_TRUE(stream->addStreamOutput(CaptureStreamOutputType::screen));
        return stream;
    }

    TestXClient client;
    std::shared_ptr<RecordingOutput> output = std::make_shared<RecordingOutput>();
};

TEST_F(XcbScreenCaptureStreamTest, CapturesABlockWithExactPixelsAtEverySizeAndRectangle) {
    struct Case {
        const char* name;
        CaptureRect captured;
        std::uint32_t width;
        std::uint32_t height;
        bool allowSharedMemory;
        XcbScreenGrabber::Method method;
        // Where the 200x100 block at (300, 200) lands in the frame.
        int left, top, right, bottom;
    };
    const Case cases[] = {
        {"full size, shared memory",
         {0, 0, 1920, 1080},
         1920,
         1080,
         true,
         XcbScreenGrabber::Method::sharedMemory,
         300,
         200,
         500,
         300},
        {"full size, core GetImage",
         {0, 0, 1920, 1080},
         1920,
         1080,
         false,
         XcbScreenGrabber::Method::coreGetImage,
         300,
         200,
         500,
         300},
        {"half size",
         {0, 0, 1920, 1080},
         960,
         540,
         true,
         XcbScreenGrabber::Method::sharedMemory,
         150,
         100,
         250,
         150},
        {"sub-rectangle",
         {200, 150, 800, 600},
         800,
         600,
         true,
         XcbScreenGrabber::Method::sharedMemory,
         100,
         50,
         300,
         150},
    };
    const auto block = client.showBlock(300, 200, 200, 100, blockColor);
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        output = std::make_shared<RecordingOutput>();
        CaptureContentFilter filter;
        filter.display.frame = testCase.captured;
        const std::uint64_t before = monotonicNow();
        auto stream = makeStream(filter, configuration(testCase.width, testCase.height, false),
                                 testCase.allowSharedMemory);
        stream->start();
        auto frame = output->waitForFrame(isComplete);
        stream->stop();
        ASSERT_TRUE(frame);
        EXPECT_EQ(stream->grabMethod(), testCase.method);
        const auto& pixels = *frame->imageBuffer;
        EXPECT_EQ(pixels.width, testCase.width);
        EXPECT_EQ(pixels.height, testCase.height);
        EXPECT_EQ(pixels.pixelFormat, pixelFormatBGRA);
        ASSERT_EQ(pixels.planes.size(), 1u);
        EXPECT_EQ(pixels.planes[0].bytesPerRow, testCase.width * 4);
        ASSERT_TRUE(frame->formatDescription);
        EXPECT_EQ(frame->formatDescription->width, testCase.width);
        EXPECT_EQ(frame->formatDescription->height, testCase.height);
        const PropertyListValue::Dictionary expectedColors{
            {std::string(videoColorKey::colorPrimaries), std::string(videoColorPrimaries::itu709)},
            {std::string(videoColorKey::transferFunction), std::string(videoTransferFunction::sRGB)},
            {std::string(videoColorKey::yCbCrMatrix), std::string(videoYCbCrMatrix::itu709)}};
        EXPECT_EQ(canonicalPropertyListDescription(pixels.attachments),
                  canonicalPropertyListDescription(expectedColors));
        EXPECT_GE(frame->presentationTimeNanoseconds, before);
        EXPECT_LE(frame->presentationTimeNanoseconds, monotonicNow());

        // Every corner of the block is inside it, every neighbour outside.
        for (int x : {testCase.left, testCase.right - 1}) {
            for (int y : {testCase.top, testCase.bottom - 1}) {
                EXPECT_EQ(pixelAt(*frame, x, y), blockColor) << x << "," << y;
            }
        }
        for (auto [x, y] :
             {std::pair{testCase.left - 1, testCase.top}, std::pair{testCase.right, testCase.top},
              std::pair{testCase.left, testCase.top - 1}, std::pair{testCase.left, testCase.bottom}}) {
            EXPECT_EQ(pixelAt(*frame, x, y), background) << x << "," << y;
        }
    }
    client.destroy(block);
}

TEST_F(XcbScreenCaptureStreamTest, ChangesGiveCompleteFramesAndAStaticScreenOneIdleFrameThenNothing) {
    const auto block = client.showBlock(300, 200, 200, 100, blockColor);
    auto stream = makeStream(wholeScreen(), configuration(1920, 1080, false));
    stream->start();
    ASSERT_TRUE(output->waitForFrame(isComplete));
    ASSERT_TRUE(output->waitForFrame(isIdle));

    // Static: ten more ticks bring nothing.
    const auto deliveredWhenStatic = output->frames().size();
    const auto ticks = stream->tickCount();
    ASSERT_TRUE(eventually([&] { return stream->tickCount() >= ticks + 10; }));
    EXPECT_EQ(output->frames().size(), deliveredWhenStatic);

    client.move(block, 600, 400);
    auto moved = output->waitForFrame(
        [](const CapturedVideoFrame& frame) {
            return isComplete(frame) && pixelAt(frame, 650, 450) == blockColor &&
                   pixelAt(frame, 350, 250) == background;
        },
        deliveredWhenStatic);
    ASSERT_TRUE(moved);
    ASSERT_TRUE(output->waitForFrame(isIdle, deliveredWhenStatic));
    stream->stop();

    // complete+, idle, complete+, idle: one idle frame per static period, and only after a change.
    std::string statuses;
    for (const auto& frame : output->frames()) {
        statuses += isComplete(*frame) ? 'C' : isIdle(*frame) ? 'I' : '?';
    }
    EXPECT_EQ(statuses.find("II"), std::string::npos) << statuses;
    EXPECT_EQ(statuses.front(), 'C') << statuses;
    EXPECT_EQ(statuses.find('?'), std::string::npos) << statuses;
    client.destroy(block);
}

TEST_F(XcbScreenCaptureStreamTest, ThePointerIsDrawnIntoTheFrameAndItsMovesAreChanges) {
    auto cursorPixels = [](const CapturedVideoFrame& frame, int x, int y) {
        int differing = 0;
        for (int dy = -20; dy <= 20; ++dy) {
            for (int dx = -20; dx <= 20; ++dx) {
                differing += pixelAt(frame, x + dx, y + dy) != background;
            }
        }
        return differing;
    };
    client.warpPointer(1000, 600);
    {
        auto stream = makeStream(wholeScreen(), configuration(1920, 1080, false));
        stream->start();
        auto frame = output->waitForFrame(isComplete);
        stream->stop();
        ASSERT_TRUE(frame);
        EXPECT_EQ(cursorPixels(*frame, 1000, 600), 0);
    }
    output = std::make_shared<RecordingOutput>();
    auto stream = makeStream(wholeScreen(), configuration(1920, 1080, true));
    stream->start();
    auto frame = output->waitForFrame(isComplete);
    ASSERT_TRUE(frame);
    EXPECT_GT(cursorPixels(*frame, 1000, 600), 0);

    ASSERT_TRUE(output->waitForFrame(isIdle));
    const auto delivered = output->frames().size();
    client.warpPointer(700, 300);
    auto moved = output->waitForFrame(
        [&](const CapturedVideoFrame& f) { return isComplete(f) && cursorPixels(f, 700, 300) > 0; },
        delivered);
    stream->stop();
    ASSERT_TRUE(moved);
    EXPECT_EQ(cursorPixels(*moved, 1000, 600), 0);
}

TEST_F(XcbScreenCaptureStreamTest, SkipsGrabsWhileConsumersHoldEveryPooledBuffer) {
    // Scaled frames borrow plain buffers; frames of the output's own size borrow shared segments the
    // server grabs into.
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{960, 540}, {1920, 1080}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        output = std::make_shared<RecordingOutput>();
        auto stream = makeStream(wholeScreen(), [&] {
            auto result = configuration(width, height, false);
            result.queueDepth = 2;
            return result;
        }());
        const auto block = client.showBlock(300, 200, 200, 100, blockColor);
        stream->start();
        // The recorder keeps every frame, so after two complete frames the pool is empty.
        ASSERT_TRUE(output->waitForFrame(isComplete));
        for (int step = 0; step < 3; ++step) {
            client.move(block, 300 + 20 * (step + 1), 200);
            const auto ticks = stream->tickCount();
            ASSERT_TRUE(eventually([&] { return stream->tickCount() >= ticks + 3; }));
        }
        stream->stop();
        int complete = 0;
        for (const auto& frame : output->frames()) {
            complete += isComplete(*frame);
        }
        EXPECT_EQ(complete, 2);
        EXPECT_GT(stream->skippedGrabCount(), 0u);
        client.destroy(block);
    }
}

TEST_F(XcbScreenCaptureStreamTest, FramesKeepTheirPixelsAfterTheStreamIsGone) {
    // Full size with shared memory (frames are the server's segments), scaled, and core GetImage.
    struct Case {
        std::uint32_t width;
        std::uint32_t height;
        bool allowSharedMemory;
    };
    for (const auto& [width, height, allowSharedMemory] :
         {Case{1920, 1080, true}, Case{960, 540, true}, Case{1920, 1080, false}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) +
                     (allowSharedMemory ? " shared memory" : " core"));
        output = std::make_shared<RecordingOutput>();
        const auto block = client.showBlock(300, 200, 200, 100, blockColor);
        auto stream = makeStream(wholeScreen(), configuration(width, height, false), allowSharedMemory);
        stream->start();
        const auto frame = output->waitForFrame([&](const CapturedVideoFrame& candidate) {
            return isComplete(candidate) &&
                   pixelAt(candidate, 400 * width / 1920, 250 * height / 1080) == blockColor;
        });
        ASSERT_TRUE(frame);
        stream->stop();
        stream.reset();
        output = std::make_shared<RecordingOutput>();
        // A change after the stream is gone reaches no buffer a frame still holds.
        client.destroy(block);
        client.paintRoot(background);
        EXPECT_EQ(pixelAt(*frame, 400 * width / 1920, 250 * height / 1080), blockColor);
        EXPECT_EQ(pixelAt(*frame, 100 * width / 1920, 100 * height / 1080), background);
    }
}

TEST_F(XcbScreenCaptureStreamTest, AnUpdateWhileCapturingResizesTheFramesAndMovesTheRectangle) {
    const auto block = client.showBlock(300, 200, 200, 100, blockColor);
    auto stream = makeStream(wholeScreen(), configuration(1920, 1080, false));
    stream->start();
    ASSERT_TRUE(output->waitForFrame(isIdle));
    const auto delivered = output->frames().size();

    runAwaitable(stream->updateConfiguration(configuration(960, 540, false)));
    auto half = output->waitForFrame(isComplete, delivered);
    ASSERT_TRUE(half);
    EXPECT_EQ(half->imageBuffer->width, 960u);
    EXPECT_EQ(pixelAt(*half, 200, 125), blockColor);

    CaptureContentFilter corner;
    corner.display.frame = CaptureRect{200, 150, 800, 600};
    const auto beforeFilter = output->frames().size();
    runAwaitable(stream->updateContentFilter(corner));
    auto moved = output->waitForFrame(isComplete, beforeFilter);
    stream->stop();
    ASSERT_TRUE(moved);
    // 800x600 of the screen stretched into 960x540: the block's top-left corner (100, 50) lands at (120, 45).
    EXPECT_TRUE(nearColor(pixelAt(*moved, 130, 55), blockColor));
    EXPECT_TRUE(nearColor(pixelAt(*moved, 110, 55), background));
    client.destroy(block);
}

// With one frame a second the thread's ticks are a second apart: the first tick after the start frame brings
// the idle frame, the next comes a second later. What happens just after the idle frame is grabbed at once,
// long before that next tick.
TEST_F(XcbScreenCaptureStreamTest, AChangeOrAnUpdateAfterAQuietIntervalIsGrabbedAtOnceNotAtTheNextTick) {
    constexpr std::uint64_t intervalNanoseconds = 1'000'000'000;
    auto slow = [](std::uint32_t width, std::uint32_t height) {
        auto result = configuration(width, height, false);
        result.minimumFrameInterval = CaptureFrameInterval::perSecond(1);
        return result;
    };
    const auto block = client.showBlock(300, 200, 200, 100, blockColor);
    struct Case {
        const char* name;
        std::function<void(XcbScreenCaptureStream&)> act;
        // Whether a frame shows what the action did (frames are 960x540 of the whole screen until then).
        std::function<bool(const CapturedVideoFrame&)> shows;
    };
    const Case cases[] = {
        {"a window moved on the screen", [&](XcbScreenCaptureStream&) { client.move(block, 600, 400); },
         [](const CapturedVideoFrame& frame) {
             return pixelAt(frame, 350, 225) == blockColor && pixelAt(frame, 200, 125) == background;
         }},
        {"the configuration updated",
         [&](XcbScreenCaptureStream& stream) { runAwaitable(stream.updateConfiguration(slow(640, 360))); },
         [](const CapturedVideoFrame& frame) { return frame.imageBuffer->width == 640u; }},
        {"the content filter updated",
         [&](XcbScreenCaptureStream& stream) {
             CaptureContentFilter atTheBlock;
             atTheBlock.display.frame = CaptureRect{300, 200, 960, 540};
             runAwaitable(stream.updateContentFilter(atTheBlock));
         },
         [](const CapturedVideoFrame& frame) { return pixelAt(frame, 10, 10) == blockColor; }},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        client.move(block, 300, 200);
        output = std::make_shared<RecordingOutput>();
        auto stream = makeStream(wholeScreen(), slow(960, 540));
        stream->start();
        auto idle = output->waitForFrame(isIdle);
        ASSERT_TRUE(idle);
        const auto delivered = output->frames().size();
        const std::uint64_t actedAt = monotonicNow();
        testCase.act(*stream);
        auto frame = output->waitForFrame(
            [&](const CapturedVideoFrame& f) { return isComplete(f) && testCase.shows(f); }, delivered);
        stream->stop();
        ASSERT_TRUE(frame);
        EXPECT_GE(frame->presentationTimeNanoseconds, actedAt);
        // The next tick is a whole interval after the idle frame; half of it is a margin, not a latency goal.
        EXPECT_LT(frame->presentationTimeNanoseconds,
                  idle->presentationTimeNanoseconds + intervalNanoseconds / 2)
            << "grabbed " << (frame->presentationTimeNanoseconds - actedAt) / 1'000'000
            << " ms after the change";
    }
    client.destroy(block);
}

TEST_F(XcbScreenCaptureStreamTest, ChangesInQuickSuccessionGiveFramesAnIntervalApartEndingOnTheLast) {
    // 0.4 s between frames; five moves within about 0.2 s.
    const CaptureFrameInterval interval{2, 5};
    const auto intervalNanoseconds = static_cast<std::uint64_t>(interval.nanoseconds());
    auto config = configuration(960, 540, false);
    config.minimumFrameInterval = interval;
    const auto block = client.showBlock(300, 200, 200, 100, blockColor);
    auto stream = makeStream(wholeScreen(), config);
    stream->start();
    ASSERT_TRUE(output->waitForFrame(isIdle));
    const auto delivered = output->frames().size();
    for (int step = 1; step <= 5; ++step) {
        client.move(block, 300 + 100 * step, 200);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    // The last position, (800, 200) on the screen, is (400, 100) in the half-size frame.
    auto last = output->waitForFrame(
        [](const CapturedVideoFrame& frame) {
            return isComplete(frame) && pixelAt(frame, 450, 125) == blockColor &&
                   pixelAt(frame, 350, 125) == background;
        },
        delivered);
    stream->stop();
    ASSERT_TRUE(last);

    std::vector<std::uint64_t> grabTimes;
    for (const auto& frame : output->frames()) {
        if (isComplete(*frame)) {
            grabTimes.push_back(frame->presentationTimeNanoseconds);
        }
    }
    // The start frame, the first move grabbed at once, and the later moves together an interval after it.
    // A frame grabbed late (its wake-up delayed) may have the next one that much closer: a tenth of the
    // interval is left for that. Grabbing every move would put frames about 40 ms apart.
    ASSERT_GE(grabTimes.size(), 3u);
    for (std::size_t index = 1; index < grabTimes.size(); ++index) {
        EXPECT_GE(grabTimes[index] - grabTimes[index - 1], intervalNanoseconds - intervalNanoseconds / 10)
            << "frames " << index - 1 << " and " << index;
    }
}

TEST_F(XcbScreenCaptureStreamTest, StopEndsTheThreadWhileItWaitsOutAMinuteLongInterval) {
    auto config = configuration(960, 540, true);
    config.minimumFrameInterval = CaptureFrameInterval{60, 1};
    auto stream = makeStream(wholeScreen(), config);
    stream->start();
    ASSERT_TRUE(output->waitForFrame(isComplete));
    // The thread now sleeps until the next tick, a minute away, or until something wakes it.
    auto stopped = std::async(std::launch::async, [&] { stream->stop(); });
    EXPECT_EQ(stopped.wait_for(generousBound), std::future_status::ready) << "stop() waited for the tick";
}

// Starts a private Xvfb that the test may kill.
class PrivateXServer {
public:
    PrivateXServer() {
        int descriptors[2];
        if (pipe(descriptors) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(descriptors[0]);
            const std::string fd = std::to_string(descriptors[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
                   "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(descriptors[1]);
        pollfd readable{descriptors[0], POLLIN, 0};
        std::string number;
        while (poll(&readable, 1, 20'000) > 0) {
            char character;
            if (read(descriptors[0], &character, 1) != 1 || character == '\n') {
                break;
            }
            number.push_back(character);
        }
        close(descriptors[0]);
        if (!number.empty()) {
            display_ = ":" + number;
        }
    }
    ~PrivateXServer() { kill(); }

    const std::string& display() const { return display_; }
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    std::string display_;
};

TEST_F(XcbScreenCaptureStreamTest, AKilledXServerIsReportedExactlyOnce) {
    PrivateXServer server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    CaptureContentFilter filter;
    filter.display.frame = CaptureRect{0, 0, 640, 480};
    XcbScreenCaptureStream stream(XcbScreenCaptureStream::Options{server.display(), true}, filter,
                                  configuration(640, 480, true), output);
    ASSERT_TRUE(stream.addStreamOutput(CaptureStreamOutputType::screen));
    stream.start();
    ASSERT_TRUE(output->waitForFrame(isComplete));
    server.kill();
    ASSERT_TRUE(eventually([&] { return !output->failures().empty(); }));
    stream.stop();
    const auto failures = output->failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].domain, captureStreamErrorDomain);
    EXPECT_EQ(failures[0].code, captureStreamErrorCode::connectionBroken);
}

TEST_F(XcbScreenCaptureStreamTest, StartFailsClearlyWithoutAnXServer) {
    XcbScreenCaptureStream stream(XcbScreenCaptureStream::Options{":987654", true}, wholeScreen(),
                                  configuration(0, 0, true), output);
    try {
        stream.start();
        FAIL() << "started without a server";
    } catch (const CaptureStreamError& error) {
        EXPECT_EQ(error.failure().domain, captureStreamErrorDomain);
        EXPECT_EQ(error.failure().code, captureStreamErrorCode::startFailed);
    }
    EXPECT_TRUE(output->failures().empty());
}

}  // namespace
}  // namespace quillbridge
