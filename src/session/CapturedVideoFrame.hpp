#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "wire/PropertyListValue.hpp"

namespace quillbridge {

// Pixel formats of captured frames, as four-character codes (the first character in the high byte).
constexpr std::uint32_t fourCharacterCode(char a, char b, char c, char d) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(a)) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d));
}
// 8-bit B, G, R, A in memory order (little-endian 32-bit ARGB words); alpha is ignored.
inline constexpr std::uint32_t pixelFormatBGRA = fourCharacterCode('B', 'G', 'R', 'A');
// 10-bit per component R, G, B with 2-bit alpha in a little-endian 32-bit word (bits 0-9 blue), for HDR.
inline constexpr std::uint32_t pixelFormatARGB2101010 = fourCharacterCode('l', '1', '0', 'r');

// The captured pixels of one frame. Immutable once handed out: the capture side, the session and the
// encoder may hold it at the same time from different threads. `storage` keeps the planes alive; a capture
// pool gets its buffer back when the last holder lets go.
struct CapturedPixelBuffer {
    struct Plane {
        const std::uint8_t* data = nullptr;
        std::size_t bytesPerRow = 0;
    };

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t pixelFormat = 0;
    // One plane for packed formats (BGRA).
    std::vector<Plane> planes;
    std::shared_ptr<const void> storage;
    // Colour attachments of the image, keyed by the image-buffer attachment keys of
    // VideoColorAttachmentKeys.hpp (primaries, transfer function, matrix, HDR metadata, ICC profile, gamma).
    PropertyListValue::Dictionary attachments;
};

// How complete a captured frame is, as the capture stream reports it.
enum class CapturedFrameStatus {
    // New content.
    complete,
    // Nothing changed since the previous frame.
    idle,
    blank,
    suspended,
    started,
    stopped,
};

// One frame the capture side hands to the session.
struct CapturedVideoFrame {
    // The frame's pixels; absent for a frame that carries only a status.
    std::shared_ptr<const CapturedPixelBuffer> imageBuffer;
    // The format description: dimensions and extensions (keyed by the format-description extension keys of
    // VideoColorAttachmentKeys.hpp). Absent with no image buffer.
    struct FormatDescription {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        PropertyListValue::Dictionary extensions;
    };
    std::optional<FormatDescription> formatDescription;
    // CLOCK_MONOTONIC nanoseconds of the grab.
    std::uint64_t presentationTimeNanoseconds = 0;
    std::uint64_t durationNanoseconds = 0;
    // Absent when the capture stream gave no status (treated as complete).
    std::optional<CapturedFrameStatus> status;
};

}  // namespace quillbridge
