#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "camera_extension/CameraSourceStream.hpp"
#include "camera_extension/linux/PipeWireCameraNode.hpp"

namespace quillbridge {

// The source stream as a PipeWire "Video/Source" node, "Quillbridge Persona Camera" (media.role Camera),
// which desktop apps record from. The node drives its own graph: each frame sent triggers one cycle, so apps
// get the frame as soon as it is sent. A sample buffer is a buffer of the node's pool with the frame copied
// in; sending it queues it with its presentation time in the buffer's spa_meta_header.
//
// A cycle passes the apps the next queued buffer only once they have taken the previous one. So that no frame
// is lost and none waits behind another, at most one buffer is queued at a time: a frame sent while one is
// still queued waits in the node until that one has gone out, and a newer frame takes its place (the apps get
// the newest). While a buffer waits, the node triggers again a little later (2 ms, then doubling up to 16
// ms).
class PipeWireCameraSourceStream final : public PipeWireCameraNode, public CameraSourceStream {
public:
    static constexpr std::chrono::milliseconds firstRetriggerDelay{2};
    static constexpr std::chrono::milliseconds maximumRetriggerDelay{16};

    explicit PipeWireCameraSourceStream(pw_loop& loop);
    ~PipeWireCameraSourceStream() override;

    std::shared_ptr<CameraSourceSampleBuffer> makeSampleBuffer(
        const CameraSinkSampleBuffer& consumed, std::int64_t presentationTimeNanoseconds) override;
    void sendSampleBuffer(const std::shared_ptr<CameraSourceSampleBuffer>& sampleBuffer,
                          std::uint32_t discontinuityFlags, std::uint64_t hostTimeNanoseconds) override;

private:
    void removeBuffer(pw_buffer& buffer) override;

    static void onRetrigger(void* data, std::uint64_t expirations);
    void scheduleRetrigger(std::chrono::milliseconds delay);
    void queueAndTrigger(pw_buffer& buffer);
    std::uint32_t queuedBufferCount() const;

    pw_loop& loop_;
    spa_source* retriggerTimer_ = nullptr;
    // The newest frame, filled and stamped, waiting for the queued one to go out.
    pw_buffer* waiting_ = nullptr;
    std::chrono::milliseconds retriggerDelay_ = firstRetriggerDelay;
    std::uint64_t nextSequenceNumber_ = 0;
};

}  // namespace quillbridge
