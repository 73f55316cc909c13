#pragma once

#include <memory>

#include "capture/CaptureStreamFactory.hpp"
#include "platform/linux/x11/XcbScreenCaptureStream.hpp"

namespace quillbridge {

// Makes LinuxCaptureStreams on one X display.
class LinuxCaptureStreamFactory final : public CaptureStreamFactory {
public:
    explicit LinuxCaptureStreamFactory(XcbScreenCaptureStream::Options screenOptions = {})
        : screenOptions_(std::move(screenOptions)) {}

    std::shared_ptr<CaptureStream> makeStream(const CaptureContentFilter& filter,
                                              const CaptureStreamConfiguration& configuration,
                                              std::shared_ptr<CaptureStreamOutput> output) override;

private:
    XcbScreenCaptureStream::Options screenOptions_;
};

}  // namespace quillbridge
