#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <pipewire/pipewire.h>

#include "camera_extension/PersonaCameraStreamSource.hpp"
#include "camera_extension/linux/PipeWireCameraFormat.hpp"

namespace quillbridge {

// One of the camera's two PipeWire nodes, made with pw_stream and used on the program's main loop (its
// process callback runs there too, not on PipeWire's real-time thread). It reports the stream entering the
// streaming state as a start, and leaving it as a stop, to its stream source, answers the negotiated format
// with the camera's buffer parameters, and hands buffers and process calls to the stream it serves.
class PipeWireCameraNode {
public:
    struct Description {
        CameraStreamDirection direction = CameraStreamDirection::source;
        std::string_view nodeName;
        std::string_view streamName;
        std::string_view mediaClass;
        std::string_view mediaRole;  // empty: none
        std::string_view streamUID;
        PipeWireCameraFormat::BufferCounts bufferCounts;
        pw_stream_flags flags = PW_STREAM_FLAG_NONE;
    };

    // Where the node stands on the server, for publication: not yet known, there, or failed.
    enum class Presence { pending, present, failed };

    explicit PipeWireCameraNode(Description description) : description_(description) {}
    virtual ~PipeWireCameraNode();
    PipeWireCameraNode(const PipeWireCameraNode&) = delete;
    PipeWireCameraNode& operator=(const PipeWireCameraNode&) = delete;

    // Makes and connects the node with the one format. Nothing on success, else the failure's description.
    std::optional<std::string> connect(pw_core& core, const spa_pod& format,
                                       std::weak_ptr<PersonaCameraStreamSource> streamSource);
    // Destroys the node (reporting a stop when it was streaming and the stream source still exists).
    void disconnect();

    Presence presence() const;
    // The stream's error, when it is in the error state.
    std::optional<std::string> failure() const;
    bool isStreaming() const { return state_ == PW_STREAM_STATE_STREAMING; }

    // The next buffer of an output stream's pool that is free to write. A buffer its readers still hold comes
    // back marked busy, and pw_stream then puts it last: the ones after it are tried before giving up.
    static pw_buffer* dequeueWritableBuffer(pw_stream& stream);

protected:
    pw_stream* stream() const { return stream_; }

    virtual void process() {}
    virtual void addBuffer(pw_buffer& buffer) {}
    virtual void removeBuffer(pw_buffer& buffer) {}
    // Called before the stream source hears of the change.
    virtual void streamingChanged(bool isStreaming) {}

private:
    static void onStateChanged(void* data, pw_stream_state old, pw_stream_state state, const char* error);
    static void onParamChanged(void* data, std::uint32_t id, const spa_pod* param);
    static void onAddBuffer(void* data, pw_buffer* buffer);
    static void onRemoveBuffer(void* data, pw_buffer* buffer);
    static void onProcess(void* data);
    static const pw_stream_events events;

    Description description_;
    pw_stream* stream_ = nullptr;
    spa_hook listener_{};
    pw_stream_state state_ = PW_STREAM_STATE_UNCONNECTED;
    std::string error_;
    std::weak_ptr<PersonaCameraStreamSource> streamSource_;
};

}  // namespace quillbridge
