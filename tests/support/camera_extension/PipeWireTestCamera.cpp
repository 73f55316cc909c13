#include "support/camera_extension/PipeWireTestCamera.hpp"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>

#include "camera_extension/linux/PipeWireCameraNode.hpp"

namespace quillbridge {

namespace Ids = CameraDeviceIdentifiers;

std::int64_t monotonicNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

namespace CameraTestFrames {

namespace {

struct Colour {
    std::uint8_t luma;
    std::uint8_t blue;
    std::uint8_t red;
};

Colour colourOf(std::uint64_t index) {
    return Colour{std::uint8_t(16 + index * 29 % 219), std::uint8_t(16 + index * 53 % 224),
                  std::uint8_t(16 + index * 97 % 224)};
}

}  // namespace

void fill(const MutableCameraImage& image, std::uint64_t index) {
    const Colour colour = colourOf(index);
    for (std::size_t row = 0; row < Ids::heightPixels; ++row)
        std::memset(image.luma + row * image.lumaStrideBytes, colour.luma, Ids::lumaRowByteCount);
    for (std::size_t row = 0; row < Ids::chromaRowCount; ++row) {
        std::uint8_t* chroma = image.chroma + row * image.chromaStrideBytes;
        for (std::size_t column = 0; column < Ids::chromaRowByteCount; column += 2) {
            chroma[column] = colour.blue;
            chroma[column + 1] = colour.red;
        }
    }
    std::memcpy(image.luma, &index, sizeof(index));
}

std::uint64_t indexOf(const CameraImage& image) {
    std::uint64_t index = 0;
    std::memcpy(&index, image.luma, sizeof(index));
    return index;
}

bool matches(const CameraImage& image, std::uint64_t index) {
    const Colour colour = colourOf(index);
    std::uint8_t lumaRow[Ids::lumaRowByteCount];
    std::uint8_t chromaRow[Ids::chromaRowByteCount];
    std::memset(lumaRow, colour.luma, sizeof(lumaRow));
    for (std::size_t column = 0; column < sizeof(chromaRow); column += 2) {
        chromaRow[column] = colour.blue;
        chromaRow[column + 1] = colour.red;
    }
    if (indexOf(image) != index || std::memcmp(image.luma + 8, lumaRow + 8, sizeof(lumaRow) - 8) != 0)
        return false;
    for (std::size_t row = 1; row < Ids::heightPixels; ++row) {
        if (std::memcmp(image.luma + row * image.lumaStrideBytes, lumaRow, sizeof(lumaRow)) != 0)
            return false;
    }
    for (std::size_t row = 0; row < Ids::chromaRowCount; ++row) {
        if (std::memcmp(image.chroma + row * image.chromaStrideBytes, chromaRow, sizeof(chromaRow)) != 0)
            return false;
    }
    return true;
}

}  // namespace CameraTestFrames

PipeWireTestSession::PipeWireTestSession() {
    pw_init(nullptr, nullptr);
    loop_ = pw_thread_loop_new("camera-test", nullptr);
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    pw_thread_loop_start(loop_);
    lock();
    core_ = pw_context_connect(context_, nullptr, 0);
    unlock();
}

PipeWireTestSession::~PipeWireTestSession() {
    lock();
    if (core_ != nullptr)
        pw_core_disconnect(core_);
    unlock();
    pw_thread_loop_stop(loop_);
    pw_context_destroy(context_);
    pw_thread_loop_destroy(loop_);
}

void PipeWireTestStream::connect(pw_properties* properties, pw_direction direction, pw_stream_flags flags,
                                 PipeWireCameraFormat::BufferCounts bufferCounts) {
    bufferCounts_ = bufferCounts;
    static const pw_stream_events events = [] {
        pw_stream_events events{};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = &PipeWireTestStream::onStateChanged;
        events.param_changed = &PipeWireTestStream::onParamChanged;
        events.process = &PipeWireTestStream::onProcess;
        return events;
    }();
    alignas(8) std::uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    const spa_pod* params[] = {PipeWireCameraFormat::buildFormat(builder)};
    session_.lock();
    stream_ = pw_stream_new(&session_.core(), "Quillbridge camera test stream", properties);
    pw_stream_add_listener(stream_, &listener_, &events, this);
    pw_stream_connect(stream_, direction, PW_ID_ANY,
                      pw_stream_flags(flags | PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                      params, 1);
    session_.unlock();
}

PipeWireTestStream::~PipeWireTestStream() {
    destroy();
}

void PipeWireTestStream::destroy() {
    if (stream_ == nullptr)
        return;
    session_.lock();
    pw_stream_destroy(stream_);
    stream_ = nullptr;
    session_.unlock();
}

bool PipeWireTestStream::waitUntilStreaming(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return state_ == PW_STREAM_STATE_STREAMING; });
}

bool PipeWireTestStream::isStreaming() {
    std::lock_guard lock(mutex_);
    return state_ == PW_STREAM_STATE_STREAMING;
}

void PipeWireTestStream::onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char*) {
    auto& stream = *static_cast<PipeWireTestStream*>(data);
    {
        std::lock_guard lock(stream.mutex_);
        stream.state_ = state;
    }
    stream.changed_.notify_all();
}

void PipeWireTestStream::onParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
    auto& stream = *static_cast<PipeWireTestStream*>(data);
    if (id != SPA_PARAM_Format || param == nullptr)
        return;
    alignas(8) std::uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    auto params = PipeWireCameraFormat::buildBufferParams(builder, stream.bufferCounts_);
    if (params)
        pw_stream_update_params(stream.stream_, params->data(), std::uint32_t(params->size()));
}

void PipeWireTestStream::onProcess(void* data) {
    static_cast<PipeWireTestStream*>(data)->process();
}

namespace {

pw_properties* streamProperties(std::string_view target, const char* category) {
    return pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, category, PW_KEY_MEDIA_ROLE,
                             "Camera", PW_KEY_TARGET_OBJECT, std::string(target).c_str(), nullptr);
}

}  // namespace

TestCameraProducer::TestCameraProducer(PipeWireTestSession& session, std::string_view target)
    : PipeWireTestStream(session) {
    // As the host does: enough buffers that those on their way back from the sink do not starve it.
    connect(streamProperties(target, "Playback"), PW_DIRECTION_OUTPUT, PW_STREAM_FLAG_DRIVER,
            {Ids::sinkBufferPoolSize, 2, Ids::sinkBufferPoolMaximum});
}

TestCameraProducer::~TestCameraProducer() {
    destroy();
}

bool TestCameraProducer::send(std::uint64_t index, std::int64_t presentationTimeNanoseconds) {
    session_.lock();
    bool sent = false;
    pw_buffer* buffer = nullptr;
    pw_time time{};
    pw_stream_get_time_n(stream_, &time, sizeof(time));
    if (pw_stream_get_state(stream_, nullptr) != PW_STREAM_STATE_STREAMING) {
    } else if (time.queued_buffers > 0) {
        // The camera has not taken the last frame yet: push that one again rather than queue a second.
        pw_stream_trigger_process(stream_);
    } else {
        buffer = PipeWireCameraNode::dequeueWritableBuffer(*stream_);
    }
    if (buffer != nullptr) {
        if (auto image = PipeWireCameraFormat::writableImageIn(*buffer->buffer)) {
            CameraTestFrames::fill(*image, index);
            PipeWireCameraFormat::markImageWritten(*buffer->buffer);
            sent = true;
        } else {
            PipeWireCameraFormat::markImageMissing(*buffer->buffer);
        }
        if (spa_meta_header* header = PipeWireCameraFormat::header(*buffer->buffer)) {
            *header = spa_meta_header{};
            header->pts = presentationTimeNanoseconds;
            header->seq = index;
        }
        pw_stream_queue_buffer(stream_, buffer);
        pw_stream_trigger_process(stream_);
    }
    session_.unlock();
    return sent;
}

TestCameraConsumer::TestCameraConsumer(PipeWireTestSession& session, std::string_view target,
                                       std::size_t capacity)
    : PipeWireTestStream(session) {
    frames_.reserve(capacity);
    connect(streamProperties(target, "Capture"), PW_DIRECTION_INPUT, PW_STREAM_FLAG_NONE, {4, 2, 8});
}

TestCameraConsumer::~TestCameraConsumer() {
    destroy();
}

void TestCameraConsumer::process() {
    while (pw_buffer* buffer = pw_stream_dequeue_buffer(stream_)) {
        Frame frame;
        frame.receivedNanoseconds = monotonicNanoseconds();
        if (const spa_meta_header* header = PipeWireCameraFormat::header(*buffer->buffer))
            frame.presentationTimeNanoseconds = header->pts;
        if (auto image = PipeWireCameraFormat::imageIn(*buffer->buffer)) {
            frame.index = CameraTestFrames::indexOf(*image);
            frame.intact = CameraTestFrames::matches(*image, frame.index);
        }
        pw_stream_queue_buffer(stream_, buffer);
        {
            std::lock_guard lock(mutex_);
            if (frames_.size() < frames_.capacity())
                frames_.push_back(frame);
        }
        received_.notify_all();
    }
}

bool TestCameraConsumer::waitForFrames(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return received_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

bool TestCameraConsumer::waitForIndex(std::uint64_t index, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return received_.wait_for(lock, timeout, [&] {
        return std::any_of(frames_.begin(), frames_.end(),
                           [&](const Frame& frame) { return frame.index == index; });
    });
}

std::vector<TestCameraConsumer::Frame> TestCameraConsumer::frames() {
    std::lock_guard lock(mutex_);
    return frames_;
}

}  // namespace quillbridge
