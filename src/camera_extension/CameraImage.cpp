#include "camera_extension/CameraImage.hpp"

#include <cstring>

namespace quillbridge {

namespace {

void copyPlane(const std::uint8_t* source, std::size_t sourceStride, std::uint8_t* destination,
               std::size_t destinationStride, std::size_t rowCount) {
    constexpr std::size_t rowByteCount = CameraDeviceIdentifiers::lumaRowByteCount;
    if (sourceStride == rowByteCount && destinationStride == rowByteCount) {
        std::memcpy(destination, source, rowByteCount * rowCount);
        return;
    }
    for (std::size_t row = 0; row < rowCount; ++row)
        std::memcpy(destination + row * destinationStride, source + row * sourceStride, rowByteCount);
}

}  // namespace

void copyCameraImage(const CameraImage& source, const MutableCameraImage& destination) {
    copyPlane(source.luma, source.lumaStrideBytes, destination.luma, destination.lumaStrideBytes,
              CameraDeviceIdentifiers::heightPixels);
    copyPlane(source.chroma, source.chromaStrideBytes, destination.chroma, destination.chromaStrideBytes,
              CameraDeviceIdentifiers::chromaRowCount);
}

}  // namespace quillbridge
