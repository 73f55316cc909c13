#pragma once

#include <cstdint>
#include <memory>

namespace quillbridge {

class PersonaCameraDeviceSource;

// Which way a stream carries frames: the source stream out to apps, the sink stream in from the host.
enum class CameraStreamDirection : std::uint32_t { source = 0, sink = 1 };

// The object the platform calls when one of the camera's two streams starts or stops. It holds the device
// source without owning it; each call queues the device source's step on its state queue and returns at once.
class PersonaCameraStreamSource {
public:
    // The stream's one format is always the active one.
    static constexpr std::uint32_t activeFormatIndex = 0;

    PersonaCameraStreamSource(CameraStreamDirection direction,
                              std::weak_ptr<PersonaCameraDeviceSource> deviceSource)
        : direction_(direction), deviceSource_(std::move(deviceSource)) {}

    CameraStreamDirection direction() const { return direction_; }

    void startStream();
    void stopStream();

private:
    CameraStreamDirection direction_;
    std::weak_ptr<PersonaCameraDeviceSource> deviceSource_;
};

}  // namespace quillbridge
