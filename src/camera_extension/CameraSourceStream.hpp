#pragma once

#include <cstdint>
#include <memory>

#include "camera_extension/CameraSinkStream.hpp"

namespace quillbridge {

// A buffer made for the source stream from a consumed sink buffer.
class CameraSourceSampleBuffer {
public:
    virtual ~CameraSourceSampleBuffer() = default;
};

// The source stream, which apps record from. Called on the camera's state queue.
class CameraSourceStream {
public:
    virtual ~CameraSourceStream() = default;

    // A buffer for the apps holding the consumed buffer's image, lasting one frame (1/30 s) from the
    // presentation time; none when it cannot be made.
    virtual std::shared_ptr<CameraSourceSampleBuffer> makeSampleBuffer(
        const CameraSinkSampleBuffer& consumed, std::int64_t presentationTimeNanoseconds) = 0;
    // Hands the buffer to the stream's clients.
    virtual void sendSampleBuffer(const std::shared_ptr<CameraSourceSampleBuffer>& sampleBuffer,
                                  std::uint32_t discontinuityFlags, std::uint64_t hostTimeNanoseconds) = 0;
};

}  // namespace quillbridge
