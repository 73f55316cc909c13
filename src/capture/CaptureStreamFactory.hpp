#pragma once

#include <memory>

#include "capture/CaptureContentFilter.hpp"
#include "capture/CaptureStream.hpp"
#include "capture/CaptureStreamConfiguration.hpp"
#include "capture/CaptureStreamOutput.hpp"

namespace quillbridge {

// Creates the platform's capture streams. The stream keeps the output for its life and calls it from its
// own threads.
class CaptureStreamFactory {
public:
    virtual ~CaptureStreamFactory() = default;

    virtual std::shared_ptr<CaptureStream> makeStream(const CaptureContentFilter& filter,
                                                      const CaptureStreamConfiguration& configuration,
                                                      std::shared_ptr<CaptureStreamOutput> output) = 0;
};

}  // namespace quillbridge
