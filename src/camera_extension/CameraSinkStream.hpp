#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera_extension/CameraImage.hpp"

namespace quillbridge {

// A client of a stream (the host process on the sink stream), as the platform names it.
using CameraStreamClientID = std::uint64_t;

// A buffer taken from the sink stream. It goes back to the host when the last reference to it is released.
class CameraSinkSampleBuffer {
public:
    virtual ~CameraSinkSampleBuffer() = default;

    // The frame, while the buffer still holds one of the camera's format; nothing otherwise.
    virtual std::optional<CameraImage> image() const = 0;
    // The presentation time the host gave the buffer (host clock nanoseconds), when it gave one.
    virtual std::optional<std::int64_t> presentationTimeNanoseconds() const = 0;
};

// What one consume request yields.
struct CameraSinkConsumeResult {
    std::shared_ptr<CameraSinkSampleBuffer> sampleBuffer;  // none when no buffer was waiting
    std::uint64_t sequenceNumber = 0;
    std::uint32_t discontinuityFlags = 0;
    bool hasMoreSampleBuffers = false;
    std::optional<std::string> error;  // the failure's description
};

// The sink stream, into which the host enqueues frames. Called on the camera's state queue.
class CameraSinkStream {
public:
    using ConsumeCompletion = std::function<void(CameraSinkConsumeResult)>;

    virtual ~CameraSinkStream() = default;

    // The clients now streaming into the sink, in the platform's order.
    virtual std::vector<CameraStreamClientID> streamingClients() const = 0;
    // Takes the next buffer the client enqueued. The completion runs once, on any thread, possibly before
    // this returns.
    virtual void consumeSampleBuffer(CameraStreamClientID client, ConsumeCompletion completion) = 0;
    // Tells the host that the buffer with this sequence number was output at that host time.
    virtual void notifyScheduledOutputChanged(std::uint64_t sequenceNumber,
                                              std::uint64_t hostTimeNanoseconds) = 0;
};

}  // namespace quillbridge
