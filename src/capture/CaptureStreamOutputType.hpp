#pragma once

namespace quillbridge {

// The kinds of samples a capture stream delivers.
enum class CaptureStreamOutputType {
    screen,
    audio,
};

}  // namespace quillbridge
