#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>

#include "core/Bytes.hpp"

namespace quillbridge {

// One frame in the virtual camera's one format (1920 x 1080 NV12, video range): the luma plane followed by
// the interleaved CbCr plane, packed, with the sequence number and host time the feeder gives it.
struct PersonaCameraSinkFrame {
    Bytes planes;
    // Host monotonic nanoseconds.
    std::int64_t presentationTimeNanoseconds = 0;
    std::int64_t durationNanoseconds = 0;
    std::uint64_t sequenceNumber = 0;
    bool isDiscontinuity = false;
};

// An open connection to the camera's frame sink: its stream is started and its scheduled-output handler is
// registered. Destroying it stops the stream, removes the handler and releases every frame still queued.
class PersonaCameraSinkConnection {
public:
    virtual ~PersonaCameraSinkConnection() = default;

    // How many frames the sink may hold unacknowledged.
    virtual std::uint32_t capacity() const = 0;
    // Queues the frame for the camera; 0 on success, a non-zero status otherwise.
    virtual int enqueue(std::shared_ptr<const PersonaCameraSinkFrame> frame) = 0;
};

// Why the sink could not be opened. A missing camera is expected while the camera program starts.
struct PersonaCameraSinkConnectError {
    enum class Kind { deviceNotFound, queueUnavailable, scheduledOutputRegistrationFailed, startFailed };

    Kind kind = Kind::deviceNotFound;
    int status = 0;
};

// Finds the virtual camera's sink (by its device UID, by its name failing that) and opens it. Connecting may
// wait briefly for the platform; it is called on the feeder's queue.
class PersonaCameraSink {
public:
    // Called on a platform thread with the sequence number of a frame the camera has put out.
    using ScheduledOutputHandler = std::function<void(std::uint64_t sequenceNumber)>;

    virtual ~PersonaCameraSink() = default;

    virtual std::expected<std::unique_ptr<PersonaCameraSinkConnection>, PersonaCameraSinkConnectError>
    connect(ScheduledOutputHandler scheduledOutput) = 0;
};

}  // namespace quillbridge
