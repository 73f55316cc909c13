#pragma once

#include <optional>
#include <string>
#include <string_view>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace quillbridge {

// The colour names the headset knows (VideoColorAttachmentKeys.hpp) and libavcodec's AVCOL_* values.
// Names without a matching value, and values without a name, map to nothing.
class VideoColorMapping {
public:
    static std::optional<AVColorPrimaries> primaries(std::string_view name);
    static std::optional<AVColorTransferCharacteristic> transfer(std::string_view name);
    static std::optional<AVColorSpace> matrix(std::string_view name);

    static std::optional<std::string> primariesName(AVColorPrimaries value);
    static std::optional<std::string> transferName(AVColorTransferCharacteristic value);
    static std::optional<std::string> matrixName(AVColorSpace value);
};

}  // namespace quillbridge
