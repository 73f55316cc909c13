#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "camera_extension/CameraSinkStream.hpp"
#include "camera_extension/linux/PipeWireCameraNode.hpp"
#include "camera_extension/linux/ScheduledOutputSender.hpp"

namespace quillbridge {

// The sink stream as a PipeWire "Video/Sink" node, "Quillbridge Persona Camera Input", which the host's
// producer stream feeds. Its process callback moves each buffer the host sent into a small fixed queue (it
// takes no lock and allocates nothing); a consume request takes the oldest of them. A consumed buffer goes
// back to the host's pool when its last reference is released; the acknowledgement travels as a datagram to
// the host's socket. The host process is the one client, for as long as the node streams.
class PipeWireCameraSinkStream final : public PipeWireCameraNode, public CameraSinkStream {
public:
    explicit PipeWireCameraSinkStream(ScheduledOutputSender& scheduledOutputSender);
    ~PipeWireCameraSinkStream() override;

    std::vector<CameraStreamClientID> streamingClients() const override;
    void consumeSampleBuffer(CameraStreamClientID client, ConsumeCompletion completion) override;
    void notifyScheduledOutputChanged(std::uint64_t sequenceNumber,
                                      std::uint64_t hostTimeNanoseconds) override;

    // The buffers PipeWire has given the stream (its pool) by slot; shared with the consumed buffers, which
    // outlive neither their buffer's removal nor the stream.
    static constexpr std::size_t maximumBufferCount = 64;
    struct BufferTable {
        pw_stream* stream = nullptr;  // none once the node is gone
        std::array<pw_buffer*, maximumBufferCount> buffers{};
        std::array<std::uint64_t, maximumBufferCount> generations{};
    };

private:
    void process() override;
    void addBuffer(pw_buffer& buffer) override;
    void removeBuffer(pw_buffer& buffer) override;
    void streamingChanged(bool isStreaming) override;
    void returnWaitingBuffers();

    ScheduledOutputSender& scheduledOutputSender_;
    std::shared_ptr<BufferTable> table_;
    // Buffers the host sent that wait to be consumed, oldest first.
    std::array<pw_buffer*, maximumBufferCount> waiting_{};
    std::size_t waitingCount_ = 0;
    CameraStreamClientID client_ = 0;
};

}  // namespace quillbridge
