#include "platform/linux/capture/LinuxCaptureStreamFactory.hpp"

#include "platform/linux/capture/LinuxCaptureStream.hpp"

namespace quillbridge {

std::shared_ptr<CaptureStream> LinuxCaptureStreamFactory::makeStream(
    const CaptureContentFilter& filter, const CaptureStreamConfiguration& configuration,
    std::shared_ptr<CaptureStreamOutput> output) {
    return std::make_shared<LinuxCaptureStream>(screenOptions_, filter, configuration, std::move(output));
}

}  // namespace quillbridge
