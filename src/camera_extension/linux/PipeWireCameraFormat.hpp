#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/pod/builder.h>

#include "camera_extension/CameraImage.hpp"

namespace quillbridge {

// The camera's one format in PipeWire terms (NV12 1920x1080 at 30/1, video range, one block per buffer with a
// spa_meta_header) and the reading and writing of frames in PipeWire buffers. Shared by the camera's two
// nodes and by the producer and consumer streams of its tests and benchmarks.
namespace PipeWireCameraFormat {

// The EnumFormat parameter of the one format; nothing when the builder ran out of room.
const spa_pod* buildFormat(spa_pod_builder& builder);

// The Buffers and Meta parameters a stream answers the negotiated format with: the given buffer counts, one
// block of a packed frame (stride 1920) in shared memory, and a spa_meta_header. Nothing when the builder ran
// out of room.
struct BufferCounts {
    std::uint32_t preferred = 0;
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 0;
};
std::optional<std::array<const spa_pod*, 2>> buildBufferParams(spa_pod_builder& builder, BufferCounts counts);

// The frame a received buffer holds: one block (luma, then chroma at 1080 strides) or two blocks (one plane
// each), each chunk checked against its mapping. Nothing for anything else, a corrupted chunk or memory that
// is not mapped.
std::optional<CameraImage> imageIn(const spa_buffer& buffer);

// Where a frame is written in a buffer this process fills: a packed frame at stride 1920 (in one block, or
// one plane per block when there are two). Nothing when the frame does not fit.
std::optional<MutableCameraImage> writableImageIn(spa_buffer& buffer);
// Marks the chunks of a buffer filled through writableImageIn() as holding the frame.
void markImageWritten(spa_buffer& buffer);
// Marks a buffer as holding nothing usable (queued back without a frame).
void markImageMissing(spa_buffer& buffer);

// The buffer's header meta, when it has one.
spa_meta_header* header(const spa_buffer& buffer);

}  // namespace PipeWireCameraFormat

}  // namespace quillbridge
