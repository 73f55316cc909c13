#include "camera_extension/PersonaCameraStreamSource.hpp"

#include "camera_extension/PersonaCameraDeviceSource.hpp"

namespace quillbridge {

void PersonaCameraStreamSource::startStream() {
    if (auto deviceSource = deviceSource_.lock())
        deviceSource->queueStreamStarted(direction_);
}

void PersonaCameraStreamSource::stopStream() {
    if (auto deviceSource = deviceSource_.lock())
        deviceSource->queueStreamStopped(direction_);
}

}  // namespace quillbridge
