#include "camera_extension/linux/PipeWireCameraSourceStream.hpp"

#include <algorithm>
#include <utility>

#include "camera_extension/linux/PipeWireLoopTimer.hpp"

#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

namespace {

namespace Ids = CameraDeviceIdentifiers;

// A buffer of the source node's pool holding one frame, until it is sent; after that PipeWire owns the buffer
// and this keeps only its times.
class PipeWireSourceSampleBuffer final : public CameraSourceSampleBuffer {
public:
    PipeWireSourceSampleBuffer(pw_buffer& buffer, std::int64_t presentationTimeNanoseconds)
        : buffer_(&buffer), presentationTimeNanoseconds_(presentationTimeNanoseconds) {}

    // The buffer to queue, once.
    pw_buffer* take() { return std::exchange(buffer_, nullptr); }
    std::int64_t presentationTimeNanoseconds() const { return presentationTimeNanoseconds_; }

private:
    pw_buffer* buffer_;
    std::int64_t presentationTimeNanoseconds_;
};

}  // namespace

PipeWireCameraSourceStream::PipeWireCameraSourceStream(pw_loop& loop)
    : PipeWireCameraNode(Description{
          .direction = CameraStreamDirection::source,
          .nodeName = Ids::sourceNodeName,
          .streamName = Ids::sourceStreamName,
          .mediaClass = Ids::sourceMediaClass,
          .mediaRole = Ids::sourceMediaRole,
          .streamUID = Ids::sourceStreamUID,
          .bufferCounts = {4, 2, 8},
          .flags = pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS),
      }),
      loop_(loop),
      retriggerTimer_(pw_loop_add_timer(&loop, &PipeWireCameraSourceStream::onRetrigger, this)) {}

PipeWireCameraSourceStream::~PipeWireCameraSourceStream() {
    disconnect();
    pw_loop_destroy_source(&loop_, retriggerTimer_);
}

std::shared_ptr<CameraSourceSampleBuffer> PipeWireCameraSourceStream::makeSampleBuffer(
    const CameraSinkSampleBuffer& consumed, std::int64_t presentationTimeNanoseconds) {
    if (!isStreaming())
        return nullptr;
    auto image = consumed.image();
    if (!image)
        return nullptr;
    // A frame still waiting to be queued is replaced by this newer one.
    pw_buffer* buffer = std::exchange(waiting_, nullptr);
    if (buffer == nullptr)
        buffer = dequeueWritableBuffer(*stream());
    if (buffer == nullptr)
        return nullptr;
    auto destination = PipeWireCameraFormat::writableImageIn(*buffer->buffer);
    if (!destination) {
        PipeWireCameraFormat::markImageMissing(*buffer->buffer);
        pw_stream_queue_buffer(stream(), buffer);
        return nullptr;
    }
    copyCameraImage(*image, *destination);
    PipeWireCameraFormat::markImageWritten(*buffer->buffer);
    return std::make_shared<PipeWireSourceSampleBuffer>(*buffer, presentationTimeNanoseconds);
}

void PipeWireCameraSourceStream::sendSampleBuffer(
    const std::shared_ptr<CameraSourceSampleBuffer>& sampleBuffer, std::uint32_t discontinuityFlags,
    std::uint64_t hostTimeNanoseconds) {
    auto* sample = dynamic_cast<PipeWireSourceSampleBuffer*>(sampleBuffer.get());
    pw_buffer* buffer = sample != nullptr ? sample->take() : nullptr;
    if (buffer == nullptr || stream() == nullptr)
        return;
    if (spa_meta_header* header = PipeWireCameraFormat::header(*buffer->buffer)) {
        header->flags = discontinuityFlags & SPA_META_HEADER_FLAG_DISCONT;
        header->offset = 0;
        header->pts = sample->presentationTimeNanoseconds();
        header->dts_offset = 0;
        header->seq = nextSequenceNumber_++;
    }
    if (queuedBufferCount() == 0)
        queueAndTrigger(*buffer);
    else
        waiting_ = buffer;
    scheduleRetrigger(firstRetriggerDelay);
}

void PipeWireCameraSourceStream::queueAndTrigger(pw_buffer& buffer) {
    pw_stream_queue_buffer(stream(), &buffer);
    pw_stream_trigger_process(stream());
}

void PipeWireCameraSourceStream::removeBuffer(pw_buffer& buffer) {
    if (waiting_ == &buffer)
        waiting_ = nullptr;
}

void PipeWireCameraSourceStream::scheduleRetrigger(std::chrono::milliseconds delay) {
    retriggerDelay_ = delay;
    armLoopTimer(loop_, *retriggerTimer_, std::chrono::steady_clock::now().time_since_epoch() + delay);
}

void PipeWireCameraSourceStream::onRetrigger(void* data, std::uint64_t) {
    auto& source = *static_cast<PipeWireCameraSourceStream*>(data);
    if (source.stream() == nullptr || !source.isStreaming())
        return;
    if (source.queuedBufferCount() > 0) {
        // The apps have not taken the last frame yet: another cycle passes the queued one on once they have.
        pw_stream_trigger_process(source.stream());
        source.scheduleRetrigger(std::min(source.retriggerDelay_ * 2, maximumRetriggerDelay));
    } else if (source.waiting_ != nullptr) {
        source.queueAndTrigger(*std::exchange(source.waiting_, nullptr));
        source.scheduleRetrigger(firstRetriggerDelay);
    }
}

std::uint32_t PipeWireCameraSourceStream::queuedBufferCount() const {
    pw_time time{};
    if (pw_stream_get_time_n(stream(), &time, sizeof(time)) < 0)
        return 0;
    return time.queued_buffers;
}

}  // namespace quillbridge
