#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <xcb/xfixes.h>

#include "capture/CaptureStream.hpp"
#include "capture/CaptureStreamOutput.hpp"
#include "capture/ScreenCaptureFrameScheduler.hpp"
#include "platform/linux/x11/XcbScreenGrabber.hpp"

namespace quillbridge {

// Screen capture of one RandR output on X11. A capture thread of its own (the stream's video thread) sleeps
// on the X connection and wakes when the server sends an event or a setting changes. A DAMAGE notify is
// grabbed at once when at least one frame interval has passed since the previous grab, else as soon as that
// interval is up: frames keep to the interval's rate (the interval runs from when the previous grab was
// due, so a wake-up a little late does not push every later frame back). What the server announces with no
// event is looked at on a periodic tick, one frame interval after the previous tick or grab: the XFixes
// cursor (whose moves are changes) and whether the screen became static. The stream delivers:
// - a complete frame after start, after a configuration change and whenever the screen's content or the
//   pointer changed: the output's rectangle grabbed (MIT-SHM, else core GetImage), the cursor drawn in,
//   scaled to the configured size, BGRA, stamped with CLOCK_MONOTONIC at grab time;
// - one idle frame (status only, no pixels) at the first tick without a change after a grab, then nothing
//   while the screen stays static.
// Frames borrow buffers from a bounded pool; when consumers hold all of them the grab is skipped and the
// change delivered at a later tick. A mode change of the output (RandR) is followed (the new rectangle is
// scaled to the configured size). When the output goes away or the X connection breaks, the failure is
// reported once and the thread ends.
class XcbScreenCaptureStream final : public CaptureStream {
public:
    struct Options {
        // The X display (":1"); $DISPLAY when empty.
        std::string displayName;
        bool allowSharedMemory = true;
    };

    XcbScreenCaptureStream(Options options, CaptureContentFilter filter,
                           CaptureStreamConfiguration configuration,
                           std::shared_ptr<CaptureStreamOutput> output);
    ~XcbScreenCaptureStream() override;

    std::expected<void, CaptureStreamFailure> addStreamOutput(CaptureStreamOutputType type) override;
    asio::awaitable<void> startCapture() override;
    asio::awaitable<void> stopCapture() override;
    asio::awaitable<void> updateConfiguration(const CaptureStreamConfiguration& configuration) override;
    asio::awaitable<void> updateContentFilter(const CaptureContentFilter& filter) override;

    // Synchronous forms of start and stop (start throws CaptureStreamError). A stream runs once: a start
    // after a stop does nothing.
    void start();
    void stop();

    // Periodic ticks completed since start (passes of the capture thread that looked at the cursor and the
    // static screen; wake-ups for events alone are not counted), and grabs skipped because every pooled
    // buffer was held.
    std::uint64_t tickCount() const { return ticks_.load(); }
    std::uint64_t skippedGrabCount() const { return skippedGrabs_.load(); }
    std::optional<XcbScreenGrabber::Method> grabMethod() const;

private:
    struct Settings {
        CaptureContentFilter filter;
        CaptureStreamConfiguration configuration;
        std::uint64_t revision = 0;
    };
    class Session;

    void run(std::unique_ptr<Session> session);
    // The capture thread's loop; what stopped it when it was not a stop().
    std::optional<CaptureStreamFailure> capture(Session& session);
    // Takes the settings changed since the previous pass; false once the stream is stopping.
    bool takeSettings(Session& session, Settings& settings, ScreenCaptureFrameScheduler& scheduler);
    // Grabs the output into a pooled buffer (or notes why it could not) and delivers the frame; what stops
    // the capture.
    std::optional<CaptureStreamFailure> grab(Session& session, ScreenCaptureFrameScheduler& scheduler,
                                             const ScreenCaptureFrameScheduler::Pass& pass,
                                             const xcb_xfixes_get_cursor_image_reply_t* cursor,
                                             std::chrono::nanoseconds frameInterval);
    // Draws the cursor in, scales the grab into the pooled buffer and hands the frame on.
    void deliverFrame(Session& session, const XcbScreenGrabber::Image& image,
                      const xcb_xfixes_get_cursor_image_reply_t* cursor, std::shared_ptr<std::uint8_t> buffer,
                      std::uint64_t grabTime, std::chrono::nanoseconds frameInterval);
    void deliverIdleFrame(std::chrono::nanoseconds frameInterval);
    // Signals the wake descriptor: the capture thread leaves its wait and looks at the settings.
    void wake();
    // On the capture thread: waits until the X connection has something to read, the wake descriptor is
    // signalled or the timeout has passed. False when the wait itself failed.
    bool waitForActivity(int connectionFd, std::chrono::nanoseconds timeout);

    Options options_;
    std::shared_ptr<CaptureStreamOutput> output_;
    bool deliversScreen_ = false;

    // An eventfd that stop() and the updates signal; the capture thread polls it next to the X connection.
    int wakeFd_ = -1;
    mutable std::mutex mutex_;
    Settings settings_;
    bool stopping_ = false;
    std::optional<XcbScreenGrabber::Method> method_;
    std::thread thread_;

    std::atomic<std::uint64_t> ticks_{0};
    std::atomic<std::uint64_t> skippedGrabs_{0};
};

}  // namespace quillbridge
