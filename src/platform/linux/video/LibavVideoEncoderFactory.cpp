#include "platform/linux/video/LibavVideoEncoderFactory.hpp"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace quillbridge {

LibavVideoEncoderFactory::LibavVideoEncoderFactory() {
    options_.vaapiRenderNode = findRenderNode();
    options_.threadCount = encoderThreadCount(availableCoreCount());
}

int LibavVideoEncoderFactory::availableCoreCount() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        return std::max(CPU_COUNT(&allowed), 1);
    }
    return static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
}

int LibavVideoEncoderFactory::encoderThreadCount(int availableCores) {
    return std::clamp(availableCores, 1, maximumEncoderThreads);
}

std::optional<std::string> LibavVideoEncoderFactory::findRenderNode() {
    for (int number = 128; number < 136; ++number) {
        const std::string path = "/dev/dri/renderD" + std::to_string(number);
        const int descriptor = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (descriptor >= 0) {
            ::close(descriptor);
            return path;
        }
    }
    return std::nullopt;
}

std::expected<std::unique_ptr<VideoEncoder>, VideoEncoderError> LibavVideoEncoderFactory::makeEncoder(
    const VideoEncoderConfiguration& configuration, asio::any_io_executor outputExecutor,
    VideoEncoderOutputHandler onOutput) {
    auto encoder =
        LibavVideoEncoder::open(configuration, options_, std::move(outputExecutor), std::move(onOutput));
    if (!encoder)
        return std::unexpected(encoder.error());
    return std::unique_ptr<VideoEncoder>(std::move(*encoder));
}

}  // namespace quillbridge
