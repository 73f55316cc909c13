#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "core/Bytes.hpp"
#include "session/CapturedVideoFrame.hpp"
#include "session/VideoColorProperties.hpp"
#include "session/VideoEncoderOutputFormat.hpp"
#include "wire/StreamCodec.hpp"

namespace quillbridge {

// What an encoder is built for. One encoder serves one size, input pixel format and colour description; a
// change of any of them needs a new encoder.
struct VideoEncoderConfiguration {
    StreamCodec codec = StreamCodec::h264;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t inputPixelFormat = pixelFormatBGRA;
    int frameRate = 60;
    // Bits per second; also the limit of data per second.
    std::int64_t averageBitRate = 0;
    std::optional<VideoColorProperties> colorProperties;
};

// One frame handed to the encoder.
struct VideoEncoderInput {
    std::shared_ptr<const CapturedPixelBuffer> pixels;
    // CLOCK_MONOTONIC nanoseconds.
    std::uint64_t presentationTimeNanoseconds = 0;
    std::uint64_t durationNanoseconds = 0;
    // The frame becomes a key frame (an IDR picture) that a decoder can start from.
    bool forceKeyFrame = false;
    // Returned unchanged with the frame's output, so that outputs of a discarded encoder can be told apart.
    std::uint64_t generation = 0;
};

// One encoded frame.
struct EncodedVideoSample {
    // NAL units, each behind a 4-byte big-endian length; no parameter sets, no access unit delimiters.
    Bytes payload;
    bool isKeyFrame = false;
    std::uint64_t presentationTimeNanoseconds = 0;
    // The format the frame needs; the same object for every frame until the format changes.
    std::shared_ptr<const VideoEncoderOutputFormat> format;
};

// The outcome of one submitted frame. Each accepted frame gives exactly one output.
struct VideoEncoderOutput {
    std::uint64_t generation = 0;
    // False when encoding the frame failed.
    bool succeeded = true;
    // Absent when the frame failed or the encoder dropped it.
    std::optional<EncodedVideoSample> sample;
};

using VideoEncoderOutputHandler = std::function<void(VideoEncoderOutput)>;

// A video encoder working on a thread of its own. The pixel conversion and the compression run there; each
// output is posted to the executor and handler given at creation. Member functions are called from one
// owner (the broadcaster's strand) and never block on the encoding, except flush().
class VideoEncoder {
public:
    virtual ~VideoEncoder() = default;

    // Queues a frame. False when the frame cannot be taken (its size or pixel format is not the
    // configuration's, the encoder is closed, or too many frames wait); no output follows then.
    virtual bool encode(VideoEncoderInput input) = 0;
    // Waits until every frame queued so far has been encoded and its output posted.
    virtual void flush() = 0;
    // Stops the encoder: frames still queued are dropped without output, and nothing more is posted once
    // this returns. Also done by the destructor.
    virtual void close() = 0;
};

// Why an encoder could not be built.
struct VideoEncoderError {
    // The platform's status code (negative).
    int status = 0;
};

}  // namespace quillbridge
