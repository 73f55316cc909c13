#include "platform/linux/x11/XcbScreenCaptureStream.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/xfixes.h>

#include "capture/CapturePixelBufferPool.hpp"
#include "capture/CaptureStreamError.hpp"
#include "capture/CapturedFrameColorAttachments.hpp"
#include "capture/CursorCompositor.hpp"
#include "capture/ScreenCaptureFrameScheduler.hpp"
#include "core/FrameStageTrace.hpp"
#include "core/Logger.hpp"
#include "platform/linux/x11/XcbSharedImagePool.hpp"

namespace quillbridge {

namespace {

const Logger logger{"ScreenCapture"};

CaptureStreamFailure failure(std::int64_t code, std::string message) {
    return CaptureStreamFailure{std::string(captureStreamErrorDomain), code, std::move(message)};
}

std::uint64_t monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(now.tv_nsec);
}

CaptureStreamFailure connectionLost() {
    return failure(captureStreamErrorCode::connectionBroken, "The connection to the X server was lost");
}

CaptureStreamFailure displayUnavailable() {
    return failure(captureStreamErrorCode::displayUnavailable, "The captured display is no longer available");
}

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

}  // namespace

// Everything the capture thread owns: the X connection and what hangs off it.
class XcbScreenCaptureStream::Session {
public:
    std::unique_ptr<XcbConnection> connection;
    std::unique_ptr<XcbScreenGrabber> grabber;
    std::uint32_t damage = 0;
    std::uint8_t damageEventBase = 0;
    std::optional<std::uint8_t> randrEventBase;
    bool hasCursor = false;
    std::uint32_t outputID = 0;
    Rect rect;
    std::unique_ptr<CapturePixelBufferPool> pool;
    // While frames are the output's own size and MIT-SHM is in use: segments the server grabs straight
    // into, handed on as the frames' pixels (the pool above is then left unused).
    std::unique_ptr<XcbSharedImagePool> sharedImages;
    std::uint32_t frameWidth = 0;
    std::uint32_t frameHeight = 0;
    std::uint64_t settingsRevision = 0;
    std::vector<std::uint8_t> scratch;
    // When the first damage notify since the previous grab was read (traced frames only).
    std::uint64_t firstDamageTime = 0;

    struct CursorState {
        int x = 0;
        int y = 0;
        std::uint32_t serial = 0;
        bool operator==(const CursorState&) const = default;
    };
    std::optional<CursorState> lastCursor;

    // Creates the connection and its extensions; throws CaptureStreamError.
    static std::unique_ptr<Session> open(const Options& options, const CaptureContentFilter& filter) {
        auto session = std::make_unique<Session>();
        session->connection = XcbConnection::open(options.displayName);
        if (!session->connection) {
            throw CaptureStreamError(
                failure(captureStreamErrorCode::startFailed, "Cannot connect to the X server"));
        }
        xcb_connection_t* c = session->connection->get();
        std::string error;
        session->grabber = XcbScreenGrabber::create(*session->connection, options.allowSharedMemory, &error);
        if (!session->grabber) {
            throw CaptureStreamError(failure(captureStreamErrorCode::startFailed, error));
        }
        if (!session->connection->hasExtension("DAMAGE")) {
            throw CaptureStreamError(
                failure(captureStreamErrorCode::startFailed, "The X server has no DAMAGE extension"));
        }
        XcbReply<xcb_damage_query_version_reply_t> damageVersion(
            xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
        session->damageEventBase = xcb_get_extension_data(c, &xcb_damage_id)->first_event;
        session->damage = xcb_generate_id(c);
        xcb_damage_create(c, session->damage, session->connection->root(), XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);

        if (session->connection->hasExtension("XFIXES")) {
            XcbReply<xcb_xfixes_query_version_reply_t> version(
                xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
            session->hasCursor = version != nullptr;
        }
        if (session->connection->hasExtension("RANDR")) {
            XcbReply<xcb_randr_query_version_reply_t> version(
                xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
            if (version) {
                session->randrEventBase = xcb_get_extension_data(c, &xcb_randr_id)->first_event;
                xcb_randr_select_input(c, session->connection->root(),
                                       XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE |
                                           XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                           XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
            }
        }
        session->outputID = filter.display.displayID;
        session->rect =
            Rect{static_cast<int>(filter.display.frame.x), static_cast<int>(filter.display.frame.y),
                 static_cast<int>(filter.display.frame.width), static_cast<int>(filter.display.frame.height)};
        if (session->rect.width <= 0 || session->rect.height <= 0) {
            const auto* screen = session->connection->screen();
            session->rect = Rect{0, 0, screen->width_in_pixels, screen->height_in_pixels};
        }
        xcb_flush(c);
        if (session->connection->hasError()) {
            throw CaptureStreamError(failure(captureStreamErrorCode::startFailed, "The X connection failed"));
        }
        return session;
    }

    // Reads every queued event. False when the connection broke.
    bool readEvents(bool& contentChanged, bool& geometryChanged) {
        xcb_connection_t* c = connection->get();
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const std::uint8_t type = event->response_type & 0x7F;
            if (type == damageEventBase + XCB_DAMAGE_NOTIFY) {
                contentChanged = true;
                if (firstDamageTime == 0 && FrameStageTrace::global().isEnabled()) {
                    firstDamageTime = FrameStageTrace::nowNanoseconds();
                }
            } else if (randrEventBase && (type == *randrEventBase + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                                          type == *randrEventBase + XCB_RANDR_NOTIFY)) {
                geometryChanged = true;
            }
            std::free(event);
        }
        return !connection->hasError();
    }

    // The output's current rectangle; nothing when it has no CRTC any more (disabled or disconnected).
    std::optional<Rect> queryOutputRect() {
        if (outputID == 0 || !randrEventBase) {
            return rect;
        }
        xcb_connection_t* c = connection->get();
        XcbReply<xcb_randr_get_output_info_reply_t> output(xcb_randr_get_output_info_reply(
            c, xcb_randr_get_output_info(c, outputID, XCB_CURRENT_TIME), nullptr));
        if (!output || output->crtc == XCB_NONE || output->connection != XCB_RANDR_CONNECTION_CONNECTED) {
            return std::nullopt;
        }
        XcbReply<xcb_randr_get_crtc_info_reply_t> crtc(xcb_randr_get_crtc_info_reply(
            c, xcb_randr_get_crtc_info(c, output->crtc, XCB_CURRENT_TIME), nullptr));
        if (!crtc || crtc->width == 0 || crtc->height == 0) {
            return std::nullopt;
        }
        return Rect{crtc->x, crtc->y, crtc->width, crtc->height};
    }

    // The root window's current size.
    std::optional<Rect> rootGeometry() {
        xcb_connection_t* c = connection->get();
        XcbReply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, connection->root()), nullptr));
        if (!geometry) {
            return std::nullopt;
        }
        return Rect{0, 0, geometry->width, geometry->height};
    }

    // Follows the output's current rectangle (clipped to the root window) and sizes the frames for it; what
    // stops the capture when the output or the connection went away.
    std::optional<CaptureStreamFailure> followGeometry(const CaptureStreamConfiguration& configuration) {
        auto current = queryOutputRect();
        auto root = rootGeometry();
        if (connection->hasError() || !root) {
            return connectionLost();
        }
        if (!current) {
            return displayUnavailable();
        }
        // A rectangle partly off the root window (the screen shrank before the CRTC moved) is clipped.
        current->width = std::min(current->width, root->width - current->x);
        current->height = std::min(current->height, root->height - current->y);
        if (current->width <= 0 || current->height <= 0) {
            return displayUnavailable();
        }
        if (!(*current == rect)) {
            logger.info("Captured output is now ", current->width, "x", current->height, "+", current->x, "+",
                        current->y);
        }
        rect = *current;
        grabber->setRootSize(root->width, root->height);
        configureFrames(configuration);
        return std::nullopt;
    }

    void configureFrames(const CaptureStreamConfiguration& configuration) {
        const std::uint32_t width =
            configuration.width > 0 ? configuration.width : static_cast<std::uint32_t>(rect.width);
        const std::uint32_t height =
            configuration.height > 0 ? configuration.height : static_cast<std::uint32_t>(rect.height);
        const std::size_t capacity = static_cast<std::size_t>(std::max(2, configuration.queueDepth));
        if (!pool || width != frameWidth || height != frameHeight || pool->capacity() != capacity) {
            frameWidth = width;
            frameHeight = height;
            pool = std::make_unique<CapturePixelBufferPool>(std::size_t{width} * height * 4, capacity);
        }
        const bool unscaled =
            static_cast<int>(width) == rect.width && static_cast<int>(height) == rect.height;
        const std::size_t size = std::size_t{width} * height * 4;
        if (!unscaled || grabber->method() != XcbScreenGrabber::Method::sharedMemory) {
            sharedImages.reset();
        } else if (!sharedImages || sharedImages->bufferSize() != size ||
                   sharedImages->capacity() != capacity) {
            sharedImages.reset();
            sharedImages = XcbSharedImagePool::create(*connection, size, capacity);
        }
    }

    // Whether a grab of the current rectangle lands in a shared segment handed on as it is.
    bool grabsInPlace() const {
        return sharedImages && static_cast<int>(frameWidth) == rect.width &&
               static_cast<int>(frameHeight) == rect.height;
    }
};

XcbScreenCaptureStream::XcbScreenCaptureStream(Options options, CaptureContentFilter filter,
                                               CaptureStreamConfiguration configuration,
                                               std::shared_ptr<CaptureStreamOutput> output)
    : options_(std::move(options)), output_(std::move(output)) {
    settings_.filter = std::move(filter);
    settings_.configuration = std::move(configuration);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

XcbScreenCaptureStream::~XcbScreenCaptureStream() {
    stop();
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
}

std::expected<void, CaptureStreamFailure> XcbScreenCaptureStream::addStreamOutput(
    CaptureStreamOutputType type) {
    if (type != CaptureStreamOutputType::screen) {
        return std::unexpected(
            failure(captureStreamErrorCode::startFailed, "The X11 screen stream has no audio"));
    }
    deliversScreen_ = true;
    return {};
}

asio::awaitable<void> XcbScreenCaptureStream::startCapture() {
    start();
    co_return;
}

asio::awaitable<void> XcbScreenCaptureStream::stopCapture() {
    stop();
    co_return;
}

asio::awaitable<void> XcbScreenCaptureStream::updateConfiguration(
    const CaptureStreamConfiguration& configuration) {
    {
        std::lock_guard lock(mutex_);
        settings_.configuration = configuration;
        ++settings_.revision;
    }
    wake();
    co_return;
}

asio::awaitable<void> XcbScreenCaptureStream::updateContentFilter(const CaptureContentFilter& filter) {
    {
        std::lock_guard lock(mutex_);
        settings_.filter = filter;
        ++settings_.revision;
    }
    wake();
    co_return;
}

void XcbScreenCaptureStream::start() {
    Settings settings;
    {
        std::lock_guard lock(mutex_);
        if (thread_.joinable() || stopping_) {
            return;
        }
        settings = settings_;
    }
    if (wakeFd_ < 0) {
        throw CaptureStreamError(failure(captureStreamErrorCode::startFailed,
                                         "Cannot create the capture thread's wake descriptor"));
    }
    auto session = Session::open(options_, settings.filter);
    {
        std::lock_guard lock(mutex_);
        method_ = session->grabber->method();
    }
    thread_ = std::thread([this, session = std::move(session)]() mutable { run(std::move(session)); });
}

void XcbScreenCaptureStream::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
}

std::optional<XcbScreenGrabber::Method> XcbScreenCaptureStream::grabMethod() const {
    std::lock_guard lock(mutex_);
    return method_;
}

void XcbScreenCaptureStream::wake() {
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
    }
}

bool XcbScreenCaptureStream::waitForActivity(int connectionFd, std::chrono::nanoseconds timeout) {
    timeout = std::max(timeout, std::chrono::nanoseconds::zero());
    const timespec limit{static_cast<time_t>(timeout.count() / 1'000'000'000),
                         static_cast<long>(timeout.count() % 1'000'000'000)};
    pollfd descriptors[2] = {{connectionFd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (ppoll(descriptors, 2, &limit, nullptr) < 0) {
        return errno == EINTR;
    }
    if (descriptors[1].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &count, sizeof count);
    }
    return true;
}

// Takes the settings the owner changed since the previous pass; false once the stream is stopping.
bool XcbScreenCaptureStream::takeSettings(Session& session, Settings& settings,
                                          ScreenCaptureFrameScheduler& scheduler) {
    std::lock_guard lock(mutex_);
    if (stopping_) {
        return false;
    }
    if (settings_.revision != settings.revision || !session.pool) {
        const bool filterChanged = settings_.filter != settings.filter;
        settings = settings_;
        if (filterChanged) {
            const auto& frame = settings.filter.display.frame;
            session.outputID = settings.filter.display.displayID;
            if (frame.width > 0 && frame.height > 0) {
                session.rect = Rect{static_cast<int>(frame.x), static_cast<int>(frame.y),
                                    static_cast<int>(frame.width), static_cast<int>(frame.height)};
            }
        }
        // Look at the output again and size the frames for the new settings.
        scheduler.settingsChanged();
    }
    return true;
}

void XcbScreenCaptureStream::deliverFrame(Session& session, const XcbScreenGrabber::Image& image,
                                          const xcb_xfixes_get_cursor_image_reply_t* cursor,
                                          std::shared_ptr<std::uint8_t> buffer, std::uint64_t grabTime,
                                          std::chrono::nanoseconds frameInterval) {
    const Rect rect = session.rect;
    if (cursor != nullptr) {
        compositeCursor(image.data, image.bytesPerRow, image.width, image.height,
                        xcb_xfixes_get_cursor_image_cursor_image(cursor), cursor->width, cursor->height,
                        cursor->x - cursor->xhot - rect.x, cursor->y - cursor->yhot - rect.y);
    }
    const std::uint32_t width = session.frameWidth;
    const std::uint32_t height = session.frameHeight;
    const int bytesPerRow = static_cast<int>(width * 4);
    if (image.data == buffer.get()) {
        // Grabbed in place.
    } else if (static_cast<int>(width) == image.width && static_cast<int>(height) == image.height) {
        libyuv::ARGBCopy(image.data, static_cast<int>(image.bytesPerRow), buffer.get(), bytesPerRow,
                         image.width, image.height);
    } else {
        libyuv::ARGBScale(image.data, static_cast<int>(image.bytesPerRow), image.width, image.height,
                          buffer.get(), bytesPerRow, static_cast<int>(width), static_cast<int>(height),
                          libyuv::kFilterBox);
    }

    auto pixels = std::make_shared<CapturedPixelBuffer>();
    pixels->width = width;
    pixels->height = height;
    pixels->pixelFormat = pixelFormatBGRA;
    pixels->planes.push_back({buffer.get(), static_cast<std::size_t>(bytesPerRow)});
    pixels->attachments = standardDynamicRangeColorAttachments();
    pixels->storage = std::move(buffer);

    auto frame = std::make_shared<CapturedVideoFrame>();
    frame->imageBuffer = std::move(pixels);
    frame->formatDescription =
        CapturedVideoFrame::FormatDescription{width, height, standardDynamicRangeColorAttachments()};
    frame->presentationTimeNanoseconds = grabTime;
    frame->durationNanoseconds = static_cast<std::uint64_t>(frameInterval.count());
    frame->status = CapturedFrameStatus::complete;
    FrameStageTrace::stamp(FrameStage::captureDone, grabTime);
    output_->captureStreamDidOutputVideoFrame(std::move(frame));
}

void XcbScreenCaptureStream::deliverIdleFrame(std::chrono::nanoseconds frameInterval) {
    auto frame = std::make_shared<CapturedVideoFrame>();
    frame->presentationTimeNanoseconds = monotonicNanoseconds();
    frame->durationNanoseconds = static_cast<std::uint64_t>(frameInterval.count());
    frame->status = CapturedFrameStatus::idle;
    output_->captureStreamDidOutputVideoFrame(std::move(frame));
}

void XcbScreenCaptureStream::run(std::unique_ptr<Session> session) {
    if (auto stopped = capture(*session)) {
        logger.error("Screen capture stopped: ", stopped->message);
        output_->captureStreamDidStop(std::move(*stopped));
    }
    if (!session->connection->hasError()) {
        xcb_connection_t* c = session->connection->get();
        xcb_damage_destroy(c, session->damage);
        xcb_flush(c);
    }
}

std::optional<CaptureStreamFailure> XcbScreenCaptureStream::grab(
    Session& session, ScreenCaptureFrameScheduler& scheduler, const ScreenCaptureFrameScheduler::Pass& pass,
    const xcb_xfixes_get_cursor_image_reply_t* cursor, std::chrono::nanoseconds frameInterval) {
    xcb_connection_t* c = session.connection->get();
    std::shared_ptr<std::uint8_t> buffer;
    std::uint32_t segment = 0;
    if (session.grabsInPlace()) {
        if (auto shared = session.sharedImages->acquire()) {
            buffer = std::move(shared->data);
            segment = shared->segment;
        }
    } else {
        buffer = session.pool->acquire();
    }
    if (!buffer) {
        ++skippedGrabs_;
        scheduler.grabSkipped();
        return std::nullopt;
    }
    xcb_damage_subtract(c, session.damage, XCB_NONE, XCB_NONE);
    const std::uint64_t grabTime = monotonicNanoseconds();
    const Rect rect = session.rect;
    auto image = segment != 0 ? session.grabber->grabInto(rect.x, rect.y, rect.width, rect.height, segment,
                                                          buffer.get())
                              : session.grabber->grab(rect.x, rect.y, rect.width, rect.height);
    if (!image) {
        if (session.connection->hasError()) {
            return connectionLost();
        }
        // The screen changed under the grab; look at the geometry again and grab at the next tick.
        scheduler.grabFailed();
        return std::nullopt;
    }
    if (FrameStageTrace::global().isEnabled()) {
        if (session.firstDamageTime != 0) {
            FrameStageTrace::global().record(FrameStage::damageNotify, grabTime, session.firstDamageTime);
        }
        FrameStageTrace::stamp(FrameStage::grabDone, grabTime);
    }
    session.firstDamageTime = 0;
    // The steady clock is CLOCK_MONOTONIC, the clock of the frames' timestamps.
    scheduler.grabbed(pass, std::chrono::steady_clock::time_point{std::chrono::nanoseconds(grabTime)},
                      frameInterval);
    deliverFrame(session, *image, cursor, std::move(buffer), grabTime, frameInterval);
    return std::nullopt;
}

std::optional<CaptureStreamFailure> XcbScreenCaptureStream::capture(Session& session) {
    using Clock = std::chrono::steady_clock;
    xcb_connection_t* c = session.connection->get();
    const int connectionFd = xcb_get_file_descriptor(c);
    Settings settings;
    ScreenCaptureFrameScheduler scheduler(deliversScreen_, Clock::now());
    while (takeSettings(session, settings, scheduler)) {
        const auto& configuration = settings.configuration;
        const auto frameInterval = ScreenCaptureFrameScheduler::frameInterval(
            configuration.minimumFrameInterval.nanoseconds(), settings.filter.display.modeRefreshRate);
        // Events may wait in xcb's own queue (read along with a reply, or while a flush waited to write)
        // where polling the socket cannot see them: send what is buffered, then take every event before
        // deciding to sleep.
        xcb_flush(c);
        bool contentChanged = false;
        bool geometryChanged = false;
        const bool connected = session.readEvents(contentChanged, geometryChanged);
        if (contentChanged) {
            scheduler.contentChanged();
        }
        if (geometryChanged) {
            scheduler.geometryChanged();
        }
        if (!connected) {
            return connectionLost();
        }
        const auto pass = scheduler.plan(Clock::now(), frameInterval);
        if (pass.wait) {
            if (!waitForActivity(connectionFd, *pass.wait)) {
                return failure(captureStreamErrorCode::connectionBroken,
                               "Waiting on the X connection failed");
            }
            continue;
        }
        if (pass.checkGeometry) {
            if (auto stop = session.followGeometry(configuration)) {
                return stop;
            }
            scheduler.geometryChecked();
        }
        XcbReply<xcb_xfixes_get_cursor_image_reply_t> cursor;
        if (session.hasCursor && configuration.showsCursor && scheduler.looksAtCursor(pass)) {
            cursor.reset(xcb_xfixes_get_cursor_image_reply(c, xcb_xfixes_get_cursor_image(c), nullptr));
            if (cursor) {
                const Session::CursorState state{cursor->x, cursor->y, cursor->cursor_serial};
                if (session.lastCursor != state) {
                    session.lastCursor = state;
                    scheduler.contentChanged();
                }
            }
        }
        if (session.connection->hasError()) {
            return connectionLost();
        }
        if (scheduler.grabs(pass)) {
            if (auto stop = grab(session, scheduler, pass, cursor.get(), frameInterval)) {
                return stop;
            }
        } else if (scheduler.sendsIdleFrame(pass)) {
            deliverIdleFrame(frameInterval);
            scheduler.idleFrameSent();
        }
        ticks_ += pass.tick ? 1 : 0;
    }
    return std::nullopt;
}

}  // namespace quillbridge
