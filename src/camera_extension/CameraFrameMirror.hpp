#pragma once

#include "camera_extension/CameraImage.hpp"

namespace quillbridge {

// A second place every consumed frame is written to (a V4L2 loopback device), whether or not an app records
// from the source stream. Called on the camera's state queue.
class CameraFrameMirror {
public:
    virtual ~CameraFrameMirror() = default;
    virtual void write(const CameraImage& image) = 0;
};

}  // namespace quillbridge
