#include "camera_extension/linux/PipeWireCameraFormat.hpp"

#include <spa/param/buffers.h>
#include <spa/param/param.h>
#include <spa/param/video/raw-utils.h>
#include <spa/pod/pod.h>

#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge::PipeWireCameraFormat {

namespace {

namespace Ids = CameraDeviceIdentifiers;

struct Block {
    std::uint8_t* bytes = nullptr;
    std::size_t byteCount = 0;
    std::size_t strideBytes = 0;
};

// The valid bytes of one received data block, clamped to its mapping as the chunk rules say.
std::optional<Block> receivedBlock(const spa_data& data) {
    if (data.data == nullptr || data.chunk == nullptr || data.maxsize == 0)
        return std::nullopt;
    // Read once: the chunk lives in memory the other process may still write.
    const spa_chunk chunk = *data.chunk;
    if ((chunk.flags & SPA_CHUNK_FLAG_CORRUPTED) != 0 || chunk.stride < 0)
        return std::nullopt;
    const std::size_t offset = chunk.offset % data.maxsize;
    if (chunk.size > data.maxsize - offset)
        return std::nullopt;
    const std::size_t stride = chunk.stride == 0 ? Ids::lumaRowByteCount : std::size_t(chunk.stride);
    return Block{static_cast<std::uint8_t*>(data.data) + offset, chunk.size, stride};
}

}  // namespace

const spa_pod* buildFormat(spa_pod_builder& builder) {
    spa_video_info_raw info{};
    info.format = SPA_VIDEO_FORMAT_NV12;
    info.size = SPA_RECTANGLE(Ids::widthPixels, Ids::heightPixels);
    info.framerate = SPA_FRACTION(Ids::frameDurationDenominator, Ids::frameDurationNumerator);
    info.color_range = SPA_VIDEO_COLOR_RANGE_16_235;
    return spa_format_video_raw_build(&builder, SPA_PARAM_EnumFormat, &info);
}

std::optional<std::array<const spa_pod*, 2>> buildBufferParams(spa_pod_builder& builder,
                                                               BufferCounts counts) {
    const int dataTypes = (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr);
    auto* buffers = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(int(counts.preferred), int(counts.minimum), int(counts.maximum)),
        SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(int(Ids::frameByteCount)), SPA_PARAM_BUFFERS_stride,
        SPA_POD_Int(int(Ids::lumaRowByteCount)), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int(dataTypes)));
    auto* meta = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(int(sizeof(spa_meta_header)))));
    if (buffers == nullptr || meta == nullptr)
        return std::nullopt;
    return std::array<const spa_pod*, 2>{buffers, meta};
}

std::optional<CameraImage> imageIn(const spa_buffer& buffer) {
    if (buffer.n_datas == 0 || buffer.datas == nullptr)
        return std::nullopt;
    auto luma = receivedBlock(buffer.datas[0]);
    if (!luma)
        return std::nullopt;
    if (buffer.n_datas >= 2 && buffer.datas[1].chunk != nullptr && buffer.datas[1].chunk->size > 0) {
        auto chroma = receivedBlock(buffer.datas[1]);
        if (!chroma)
            return std::nullopt;
        return cameraImageInPlanes<const std::uint8_t>(luma->bytes, luma->byteCount, luma->strideBytes,
                                                       chroma->bytes, chroma->byteCount, chroma->strideBytes);
    }
    return cameraImageInBlock<const std::uint8_t>(luma->bytes, luma->byteCount, luma->strideBytes);
}

std::optional<MutableCameraImage> writableImageIn(spa_buffer& buffer) {
    if (buffer.n_datas == 0 || buffer.datas == nullptr)
        return std::nullopt;
    spa_data& first = buffer.datas[0];
    auto* firstBytes = static_cast<std::uint8_t*>(first.data);
    if (buffer.n_datas >= 2) {
        spa_data& second = buffer.datas[1];
        return cameraImageInPlanes(firstBytes, first.maxsize, Ids::lumaRowByteCount,
                                   static_cast<std::uint8_t*>(second.data), second.maxsize,
                                   Ids::chromaRowByteCount);
    }
    return cameraImageInBlock(firstBytes, first.maxsize, Ids::lumaRowByteCount);
}

void markImageWritten(spa_buffer& buffer) {
    const bool twoPlanes = buffer.n_datas >= 2;
    for (std::uint32_t index = 0; index < buffer.n_datas && index < 2; ++index) {
        spa_chunk& chunk = *buffer.datas[index].chunk;
        chunk.offset = 0;
        chunk.stride = int32_t(Ids::lumaRowByteCount);
        chunk.flags = SPA_CHUNK_FLAG_NONE;
        if (!twoPlanes)
            chunk.size = std::uint32_t(Ids::frameByteCount);
        else
            chunk.size = std::uint32_t(index == 0 ? Ids::lumaByteCount : Ids::chromaByteCount);
    }
}

void markImageMissing(spa_buffer& buffer) {
    for (std::uint32_t index = 0; index < buffer.n_datas; ++index) {
        spa_chunk& chunk = *buffer.datas[index].chunk;
        chunk.offset = 0;
        chunk.size = 0;
        chunk.stride = 0;
        chunk.flags = SPA_CHUNK_FLAG_CORRUPTED;
    }
}

spa_meta_header* header(const spa_buffer& buffer) {
    return static_cast<spa_meta_header*>(
        spa_buffer_find_meta_data(&buffer, SPA_META_Header, sizeof(spa_meta_header)));
}

}  // namespace quillbridge::PipeWireCameraFormat
