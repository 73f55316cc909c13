#pragma once

#include <memory>
#include <optional>
#include <string>

#include "camera_extension/CameraSinkStream.hpp"
#include "camera_extension/CameraSourceStream.hpp"
#include "camera_extension/PersonaCameraStreamSource.hpp"

namespace quillbridge {

// What the platform's camera framework does for the provider and the device: publish the device with its two
// streams in the camera's one format, and carry frames on them. Used on the program's main thread.
class CameraDeviceHost {
public:
    virtual ~CameraDeviceHost() = default;

    // Makes the one stream format; 0 on success, else the platform's status.
    virtual int makeStreamFormat() = 0;
    // Adds the source stream, then the sink stream, to the device. From then on each stream's starts and
    // stops go to its stream source while that exists. Nothing on success, else the failure's description.
    virtual std::optional<std::string> addStreams(
        std::weak_ptr<PersonaCameraStreamSource> sourceStreamSource,
        std::weak_ptr<PersonaCameraStreamSource> sinkStreamSource) = 0;
    // Withdraws both streams again; nothing when they were not added.
    virtual void removeStreams() = 0;
    // Adds the device, with its streams, to the provider, so that apps and the host can see it. Nothing on
    // success, else the failure's description.
    virtual std::optional<std::string> addDevice() = 0;

    virtual CameraSourceStream& sourceStream() = 0;
    virtual CameraSinkStream& sinkStream() = 0;
};

}  // namespace quillbridge
