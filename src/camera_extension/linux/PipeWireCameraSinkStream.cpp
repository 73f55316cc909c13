#include "camera_extension/linux/PipeWireCameraSinkStream.hpp"

#include <algorithm>

#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

namespace {

namespace Ids = CameraDeviceIdentifiers;

constexpr std::size_t noSlot = PipeWireCameraSinkStream::maximumBufferCount;

std::size_t slotOf(const pw_buffer& buffer) {
    return std::size_t(reinterpret_cast<std::uintptr_t>(buffer.user_data));
}

// A buffer taken from the sink. Its image is read while the buffer is still the stream's; releasing the last
// reference queues it back, which returns it to the host.
class PipeWireSinkSampleBuffer final : public CameraSinkSampleBuffer {
public:
    PipeWireSinkSampleBuffer(std::shared_ptr<PipeWireCameraSinkStream::BufferTable> table, std::size_t slot,
                             std::optional<std::int64_t> presentationTimeNanoseconds)
        : table_(std::move(table)),
          slot_(slot),
          generation_(table_->generations[slot]),
          presentationTimeNanoseconds_(presentationTimeNanoseconds) {}

    ~PipeWireSinkSampleBuffer() override {
        if (pw_buffer* buffer = current(); buffer != nullptr && table_->stream != nullptr)
            pw_stream_queue_buffer(table_->stream, buffer);
    }

    std::optional<CameraImage> image() const override {
        pw_buffer* buffer = current();
        if (buffer == nullptr)
            return std::nullopt;
        return PipeWireCameraFormat::imageIn(*buffer->buffer);
    }

    std::optional<std::int64_t> presentationTimeNanoseconds() const override {
        return presentationTimeNanoseconds_;
    }

private:
    pw_buffer* current() const {
        return table_->generations[slot_] == generation_ ? table_->buffers[slot_] : nullptr;
    }

    std::shared_ptr<PipeWireCameraSinkStream::BufferTable> table_;
    std::size_t slot_;
    std::uint64_t generation_;
    std::optional<std::int64_t> presentationTimeNanoseconds_;
};

}  // namespace

PipeWireCameraSinkStream::PipeWireCameraSinkStream(ScheduledOutputSender& scheduledOutputSender)
    : PipeWireCameraNode(Description{
          .direction = CameraStreamDirection::sink,
          .nodeName = Ids::sinkNodeName,
          .streamName = Ids::sinkStreamName,
          .mediaClass = Ids::sinkMediaClass,
          .mediaRole = {},
          .streamUID = Ids::sinkStreamUID,
          // At least one buffer in the sink and one on its way back to the host.
          .bufferCounts = {Ids::sinkBufferPoolSize, 2, Ids::sinkBufferPoolMaximum},
          .flags = PW_STREAM_FLAG_MAP_BUFFERS,
      }),
      scheduledOutputSender_(scheduledOutputSender),
      table_(std::make_shared<BufferTable>()) {}

PipeWireCameraSinkStream::~PipeWireCameraSinkStream() {
    disconnect();
    table_->stream = nullptr;
}

std::vector<CameraStreamClientID> PipeWireCameraSinkStream::streamingClients() const {
    if (!isStreaming())
        return {};
    return {client_};
}

void PipeWireCameraSinkStream::consumeSampleBuffer(CameraStreamClientID client,
                                                   ConsumeCompletion completion) {
    CameraSinkConsumeResult result;
    if (auto failure = this->failure()) {
        result.error = std::move(failure);
    } else if (isStreaming() && client == client_ && waitingCount_ > 0) {
        pw_buffer* buffer = waiting_[0];
        std::copy(waiting_.begin() + 1, waiting_.begin() + std::ptrdiff_t(waitingCount_), waiting_.begin());
        --waitingCount_;
        std::optional<std::int64_t> presentationTime;
        if (const spa_meta_header* header = PipeWireCameraFormat::header(*buffer->buffer)) {
            presentationTime = header->pts;
            result.sequenceNumber = header->seq;
            result.discontinuityFlags = header->flags & SPA_META_HEADER_FLAG_DISCONT;
        }
        result.sampleBuffer =
            std::make_shared<PipeWireSinkSampleBuffer>(table_, slotOf(*buffer), presentationTime);
        result.hasMoreSampleBuffers = waitingCount_ > 0;
    }
    completion(std::move(result));
}

void PipeWireCameraSinkStream::notifyScheduledOutputChanged(std::uint64_t sequenceNumber,
                                                            std::uint64_t hostTimeNanoseconds) {
    scheduledOutputSender_.send(ScheduledOutputMessage{sequenceNumber, hostTimeNanoseconds});
}

void PipeWireCameraSinkStream::process() {
    while (pw_buffer* buffer = pw_stream_dequeue_buffer(stream())) {
        if (slotOf(*buffer) == noSlot || waitingCount_ == waiting_.size() || !isStreaming())
            pw_stream_queue_buffer(stream(), buffer);
        else
            waiting_[waitingCount_++] = buffer;
    }
}

void PipeWireCameraSinkStream::addBuffer(pw_buffer& buffer) {
    table_->stream = stream();
    auto free = std::find(table_->buffers.begin(), table_->buffers.end(), nullptr);
    if (free == table_->buffers.end()) {
        buffer.user_data = reinterpret_cast<void*>(noSlot);
        return;
    }
    const std::size_t slot = std::size_t(free - table_->buffers.begin());
    *free = &buffer;
    ++table_->generations[slot];
    buffer.user_data = reinterpret_cast<void*>(slot);
}

void PipeWireCameraSinkStream::removeBuffer(pw_buffer& buffer) {
    auto end = std::remove(waiting_.begin(), waiting_.begin() + std::ptrdiff_t(waitingCount_), &buffer);
    waitingCount_ = std::size_t(end - waiting_.begin());
    const std::size_t slot = slotOf(buffer);
    if (slot == noSlot)
        return;
    table_->buffers[slot] = nullptr;
    ++table_->generations[slot];
}

void PipeWireCameraSinkStream::streamingChanged(bool isStreaming) {
    if (isStreaming) {
        ++client_;
        return;
    }
    // Frames that waited for a consumer that is no longer coming go back to the host.
    returnWaitingBuffers();
}

void PipeWireCameraSinkStream::returnWaitingBuffers() {
    for (std::size_t index = 0; index < waitingCount_; ++index)
        pw_stream_queue_buffer(stream(), waiting_[index]);
    waitingCount_ = 0;
}

}  // namespace quillbridge
