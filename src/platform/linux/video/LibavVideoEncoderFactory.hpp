#pragma once

#include <optional>
#include <string>

#include "platform/linux/video/LibavVideoEncoder.hpp"
#include "session/VideoEncoderFactory.hpp"

namespace quillbridge {

// Builds LibavVideoEncoders: on VAAPI when a render node under /dev/dri opens, else in software.
class LibavVideoEncoderFactory final : public VideoEncoderFactory {
public:
    // Looks for a render node once, at construction.
    LibavVideoEncoderFactory();
    explicit LibavVideoEncoderFactory(LibavVideoEncoder::Options options) : options_(std::move(options)) {}

    std::expected<std::unique_ptr<VideoEncoder>, VideoEncoderError> makeEncoder(
        const VideoEncoderConfiguration& configuration, asio::any_io_executor outputExecutor,
        VideoEncoderOutputHandler onOutput) override;

    // The first render node (/dev/dri/renderD128 to renderD135) that opens for reading and writing.
    static std::optional<std::string> findRenderNode();

private:
    LibavVideoEncoder::Options options_;
};

}  // namespace quillbridge
