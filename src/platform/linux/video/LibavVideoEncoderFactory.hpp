#pragma once

#include <optional>
#include <string>

#include "platform/linux/video/LibavVideoEncoder.hpp"
#include "session/VideoEncoderFactory.hpp"

namespace quillbridge {

// Builds LibavVideoEncoders: on VAAPI when a render node under /dev/dri opens, else in software.
class LibavVideoEncoderFactory final : public VideoEncoderFactory {
public:
    // Looks for a render node once, at construction, and gives the software encoders one thread per core
    // this process may run on (at most maximumEncoderThreads).
    LibavVideoEncoderFactory();
    explicit LibavVideoEncoderFactory(LibavVideoEncoder::Options options) : options_(std::move(options)) {}

    std::expected<std::unique_ptr<VideoEncoder>, VideoEncoderError> makeEncoder(
        const VideoEncoderConfiguration& configuration, asio::any_io_executor outputExecutor,
        VideoEncoderOutputHandler onOutput) override;

    // The first render node (/dev/dri/renderD128 to renderD135) that opens for reading and writing.
    static std::optional<std::string> findRenderNode();

    // The cores this process may run on (its CPU affinity, as taskset or a cgroup set it).
    static int availableCoreCount();
    // Threads of the software encoders on that many cores: with low-latency tuning, x264 cuts each picture
    // into one slice per thread and encodes the slices side by side, so more threads than cores only make
    // the picture wait for a slice that has no core; past eight, slices cost more bits than they save time.
    static int encoderThreadCount(int availableCores);
    static constexpr int maximumEncoderThreads = 8;

private:
    LibavVideoEncoder::Options options_;
};

}  // namespace quillbridge
