#pragma once

#include <string>

#include <asio/awaitable.hpp>

namespace quillbridge {

// Where desktop apps find cameras. The look-up runs away from the caller's executor (it may wait for the
// system) and resumes on it.
class CameraDeviceRegistry {
public:
    virtual ~CameraDeviceRegistry() = default;

    // Whether a camera with this device UID is registered now.
    virtual asio::awaitable<bool> containsDevice(std::string deviceUID) = 0;
};

}  // namespace quillbridge
