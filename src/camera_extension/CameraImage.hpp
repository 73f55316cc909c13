#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

// One frame of the camera's format in memory someone else owns: the luma plane (1080 rows) and the
// interleaved chroma plane (540 rows), every row 1920 bytes long, each plane at its own row stride.
template <class Byte>
struct BasicCameraImage {
    Byte* luma = nullptr;
    std::size_t lumaStrideBytes = 0;
    Byte* chroma = nullptr;
    std::size_t chromaStrideBytes = 0;
};

using CameraImage = BasicCameraImage<const std::uint8_t>;
using MutableCameraImage = BasicCameraImage<std::uint8_t>;

// Whether rowCount rows of the camera's row length, each strideBytes after the previous, fit in byteCount
// bytes.
constexpr bool cameraPlaneFits(std::size_t byteCount, std::size_t strideBytes, std::size_t rowCount) {
    constexpr std::size_t rowByteCount = CameraDeviceIdentifiers::lumaRowByteCount;
    if (strideBytes < rowByteCount || rowCount == 0)
        return false;
    if (byteCount < rowByteCount || (byteCount - rowByteCount) / strideBytes < rowCount - 1)
        return false;
    return true;
}

// The two planes, each in its own block of memory; nothing when either does not fit its block.
template <class Byte>
std::optional<BasicCameraImage<Byte>> cameraImageInPlanes(Byte* luma, std::size_t lumaByteCount,
                                                          std::size_t lumaStrideBytes, Byte* chroma,
                                                          std::size_t chromaByteCount,
                                                          std::size_t chromaStrideBytes) {
    if (luma == nullptr || chroma == nullptr ||
        !cameraPlaneFits(lumaByteCount, lumaStrideBytes, CameraDeviceIdentifiers::heightPixels) ||
        !cameraPlaneFits(chromaByteCount, chromaStrideBytes, CameraDeviceIdentifiers::chromaRowCount))
        return std::nullopt;
    return BasicCameraImage<Byte>{luma, lumaStrideBytes, chroma, chromaStrideBytes};
}

// The frame in one block: the luma plane from the block's start, the chroma plane right after the luma
// plane's last row (1080 strides in), both at the same stride. Nothing when the frame does not fit the block.
template <class Byte>
std::optional<BasicCameraImage<Byte>> cameraImageInBlock(Byte* block, std::size_t byteCount,
                                                         std::size_t strideBytes) {
    constexpr std::size_t lumaRows = CameraDeviceIdentifiers::heightPixels;
    if (block == nullptr || strideBytes == 0 || byteCount / strideBytes < lumaRows)
        return std::nullopt;
    const std::size_t chromaOffset = strideBytes * lumaRows;
    return cameraImageInPlanes(block, chromaOffset, strideBytes, block + chromaOffset,
                               byteCount - chromaOffset, strideBytes);
}

// Copies both planes row by row, each side at its own stride.
void copyCameraImage(const CameraImage& source, const MutableCameraImage& destination);

}  // namespace quillbridge
