#pragma once

#include <expected>
#include <memory>

#include <asio/any_io_executor.hpp>

#include "session/VideoEncoder.hpp"

namespace quillbridge {

// Builds video encoders. Member functions may be called from any thread.
class VideoEncoderFactory {
public:
    virtual ~VideoEncoderFactory() = default;

    // An encoder for `configuration` whose outputs are posted to `outputExecutor` and handed to `onOutput`.
    virtual std::expected<std::unique_ptr<VideoEncoder>, VideoEncoderError> makeEncoder(
        const VideoEncoderConfiguration& configuration, asio::any_io_executor outputExecutor,
        VideoEncoderOutputHandler onOutput) = 0;
};

}  // namespace quillbridge
