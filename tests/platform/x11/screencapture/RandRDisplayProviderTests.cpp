#include "platform/linux/x11/RandRDisplayProvider.hpp"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/x11/RandREdid.hpp"
#include "platform/linux/x11/XcbScreenCaptureStream.hpp"

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

std::vector<std::uint8_t> edidNamed(const std::string& name, std::uint8_t serial) {
    std::vector<std::uint8_t> edid(128, 0);
    const std::uint8_t header[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(std::begin(header), std::end(header), edid.begin());
    edid[12] = serial;
    // The second descriptor is the name descriptor: 00 00 00 FC 00, then up to 13 characters ended by 0A.
    const std::size_t descriptor = 72;
    edid[descriptor + 3] = 0xFC;
    std::size_t index = descriptor + 5;
    for (char character : name) {
        edid[index++] = static_cast<std::uint8_t>(character);
    }
    if (index < descriptor + 18) {
        edid[index++] = 0x0A;
    }
    while (index < descriptor + 18) {
        edid[index++] = 0x20;
    }
    return edid;
}

TEST(RandREdidTest, ReadsTheMonitorNameAndDerivesStableUuids) {
    const auto dell = edidNamed("DELL U2720Q", 1);
    EXPECT_EQ(randrEdid::monitorName(dell), "DELL U2720Q");
    EXPECT_EQ(randrEdid::monitorName(edidNamed("ABCDEFGHIJKLM", 1)), "ABCDEFGHIJKLM");
    auto broken = dell;
    broken[0] = 0x01;
    EXPECT_EQ(randrEdid::monitorName(broken), "");
    EXPECT_EQ(randrEdid::monitorName(std::vector<std::uint8_t>(dell.begin(), dell.begin() + 100)), "");

    const Uuid fromEdid = randrEdid::displayUuid(dell, "HDMI-1");
    // The same monitor on another connector keeps its identity; another unit of the same model does not.
    EXPECT_EQ(randrEdid::displayUuid(dell, "DP-2"), fromEdid);
    EXPECT_NE(randrEdid::displayUuid(edidNamed("DELL U2720Q", 2), "HDMI-1"), fromEdid);
    // Without an EDID the connector names the display.
    EXPECT_EQ(randrEdid::displayUuid({}, "HDMI-1"), randrEdid::displayUuid(broken, "HDMI-1"));
    EXPECT_NE(randrEdid::displayUuid({}, "HDMI-1"), randrEdid::displayUuid({}, "DP-2"));
    // Version 5, RFC 4122 variant.
    EXPECT_EQ(fromEdid.bytes[6] >> 4, 5);
    EXPECT_EQ(fromEdid.bytes[8] >> 6, 2);
}

// Runs xrandr on the test's X server; false when it failed or is missing.
bool xrandr(const std::string& arguments) {
    return std::system(("xrandr " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

class RecordingOutput final : public CaptureStreamOutput {
public:
    void captureStreamDidOutputVideoFrame(std::shared_ptr<const CapturedVideoFrame> frame) override {
        std::lock_guard lock(mutex);
        frames.push_back(std::move(frame));
    }
    void captureStreamDidOutputAudioBuffer(std::shared_ptr<AudioPCMBuffer>) override {}
    void captureStreamDidStop(const CaptureStreamFailure& failure) override {
        std::lock_guard lock(mutex);
        failures.push_back(failure);
    }
    std::mutex mutex;
    std::vector<std::shared_ptr<const CapturedVideoFrame>> frames;
    std::vector<CaptureStreamFailure> failures;
};

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

class RandRDisplayProviderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_X11") == nullptr) {
            GTEST_SKIP() << "needs the private Xvfb of tests/support/run-desktop-services.sh --x11";
        }
        provider = RandRDisplayProvider::open();
        ASSERT_TRUE(provider);
    }

    std::unique_ptr<RandRDisplayProvider> provider;
};

TEST_F(RandRDisplayProviderTest, ListsTheServersOutputWithItsRectangleAndIdentity) {
    auto displays = provider->availableDisplays();
    ASSERT_TRUE(displays);
    ASSERT_EQ(displays->size(), 1u);
    const auto& display = displays->front();
    EXPECT_NE(display.displayID, 0u);
    EXPECT_EQ(display.connectorName, "screen");
    EXPECT_EQ(display.frame, (CaptureRect{0, 0, 1920, 1080}));
    EXPECT_EQ(display.pointSize, (CaptureSize{1920, 1080}));
    EXPECT_EQ(display.pixelWidth, 1920);
    EXPECT_EQ(display.pixelHeight, 1080);
    // Xvfb's own mode has no pixel clock, so no refresh rate can be derived from it.
    EXPECT_FALSE(display.modeRefreshRate);
    EXPECT_FALSE(display.isBuiltIn);
    EXPECT_EQ(display.uuid, randrEdid::displayUuid({}, "screen"));
}

TEST_F(RandRDisplayProviderTest, AModeChangeDuringCaptureIsFollowedAndALostOutputReportedOnce) {
    if (!xrandr("--version")) {
        GTEST_SKIP() << "xrandr is not installed";
    }
    struct RestoreMode {
        ~RestoreMode() { xrandr("--output screen --mode 1920x1080"); }
    } restore;
    // Shared with the handler: the mode restored at the end is told after this scope has ended.
    auto changes = std::make_shared<std::atomic<int>>(0);
    provider->setDisplaysChangedHandler([changes] { ++*changes; });
    const auto display = provider->availableDisplays().value().front();

    auto connection = XcbConnection::open();
    ASSERT_TRUE(connection);
    const std::uint32_t background = 0x202020, blockColor = 0x3366CC;
    xcb_change_window_attributes(connection->get(), connection->root(), XCB_CW_BACK_PIXEL, &background);
    xcb_clear_area(connection->get(), 0, connection->root(), 0, 0, 0, 0);
    const xcb_window_t window = xcb_generate_id(connection->get());
    const std::uint32_t values[] = {blockColor, 1};
    xcb_create_window(connection->get(), XCB_COPY_FROM_PARENT, window, connection->root(), 300, 200, 200, 100,
                      0, XCB_WINDOW_CLASS_INPUT_OUTPUT, connection->screen()->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(connection->get(), window);
    XcbReply<xcb_get_input_focus_reply_t> synced(
        xcb_get_input_focus_reply(connection->get(), xcb_get_input_focus(connection->get()), nullptr));

    auto output = std::make_shared<RecordingOutput>();
    CaptureContentFilter filter;
    filter.display = display;
    CaptureStreamConfiguration configuration;
    configuration.width = 1920;
    configuration.height = 1080;
    configuration.showsCursor = false;
    configuration.minimumFrameInterval = CaptureFrameInterval::perSecond(120);
    XcbScreenCaptureStream stream({}, filter, configuration, output);
    ASSERT_TRUE(stream.addStreamOutput(CaptureStreamOutputType::screen));
    stream.start();
    auto frameCount = [&] {
        std::lock_guard lock(output->mutex);
        return output->frames.size();
    };
    ASSERT_TRUE(eventually([&] { return frameCount() > 0; }));

    ASSERT_TRUE(xrandr("--newmode 1280x720_60 74.25 1280 1390 1430 1650 720 725 730 750") ||
                xrandr("--verbose | grep -q 1280x720_60"));
    xrandr("--addmode screen 1280x720_60");
    ASSERT_TRUE(xrandr("--output screen --mode 1280x720_60"));

    ASSERT_TRUE(eventually([&] { return *changes > 0; }));
    auto changed = provider->availableDisplays().value();
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0].displayID, display.displayID);
    EXPECT_EQ(changed[0].frame, (CaptureRect{0, 0, 1280, 720}));
    ASSERT_TRUE(changed[0].modeRefreshRate);
    EXPECT_NEAR(*changed[0].modeRefreshRate, 60.0, 0.01);

    // The stream keeps its configured size and now shows the smaller rectangle scaled up by 1.5.
    std::shared_ptr<const CapturedVideoFrame> scaled;
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(output->mutex);
        for (const auto& frame : output->frames) {
            if (frame->imageBuffer && nearColor(pixelAt(*frame, 600, 375), blockColor) &&
                nearColor(pixelAt(*frame, 800, 375), background)) {
                scaled = frame;
                return true;
            }
        }
        return false;
    }));
    ASSERT_TRUE(scaled);
    EXPECT_EQ(scaled->imageBuffer->width, 1920u);
    EXPECT_EQ(scaled->imageBuffer->height, 1080u);
    EXPECT_TRUE(nearColor(pixelAt(*scaled, 740, 440), blockColor));

    // Turning the output off takes the display away: one failure, then the stream is quiet.
    xrandr("--output screen --off");
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(output->mutex);
        return !output->failures.empty();
    }));
    stream.stop();
    std::lock_guard lock(output->mutex);
    ASSERT_EQ(output->failures.size(), 1u);
    EXPECT_EQ(output->failures[0].code, captureStreamErrorCode::displayUnavailable);
    EXPECT_EQ(output->failures[0].domain, captureStreamErrorDomain);
}

}  // namespace
}  // namespace quillbridge
