#pragma once

#include <chrono>
#include <expected>
#include <memory>
#include <optional>
#include <string>

#include "bridge/PersonaCameraSink.hpp"

struct pw_thread_loop;
struct pw_context;

namespace quillbridge {

// The virtual camera's sink on PipeWire: the camera program's "Video/Sink" node, fed from a producer stream
// of the host (an output driver stream that triggers one graph cycle per frame). Connecting finds the node in
// the registry (by device UID, by node name failing that), binds the acknowledgement socket in
// $XDG_RUNTIME_DIR, listens to it on the PipeWire loop and connects the producer stream, waiting until it
// streams.
//
// Acknowledgements: every datagram from the camera program names a consumed frame; a buffer that comes back
// to the producer unacknowledged counts as consumed too. Both reach the scheduled-output handler on the
// PipeWire thread, or within enqueue() when a returned buffer is found there.
class PipeWirePersonaCameraSink final : public PersonaCameraSink {
public:
    // How long connecting waits for the PipeWire server and for the stream to stream.
    static constexpr std::chrono::milliseconds connectTimeout{3000};

    // runtimeDirectory: where the acknowledgement socket is bound ($XDG_RUNTIME_DIR when empty).
    explicit PipeWirePersonaCameraSink(std::string runtimeDirectory = {});
    ~PipeWirePersonaCameraSink() override;
    PipeWirePersonaCameraSink(const PipeWirePersonaCameraSink&) = delete;
    PipeWirePersonaCameraSink& operator=(const PipeWirePersonaCameraSink&) = delete;

    std::expected<std::unique_ptr<PersonaCameraSinkConnection>, PersonaCameraSinkConnectError> connect(
        ScheduledOutputHandler scheduledOutput) override;

    // The sink node's registry id when the camera program's sink is registered now (by device UID, or by node
    // name unless byDeviceUIDOnly); waits for the server. Safe from any thread.
    std::optional<std::uint32_t> findSinkNode(bool byDeviceUIDOnly = false);

private:
    class Connection;

    std::string runtimeDirectory_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
};

}  // namespace quillbridge
