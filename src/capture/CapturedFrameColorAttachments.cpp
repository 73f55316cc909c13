#include "capture/CapturedFrameColorAttachments.hpp"

#include <string>

#include "session/VideoColorAttachmentKeys.hpp"

namespace quillbridge {

PropertyListValue::Dictionary standardDynamicRangeColorAttachments() {
    return {
        {std::string(videoColorKey::colorPrimaries), std::string(videoColorPrimaries::itu709)},
        {std::string(videoColorKey::transferFunction), std::string(videoTransferFunction::sRGB)},
        {std::string(videoColorKey::yCbCrMatrix), std::string(videoYCbCrMatrix::itu709)},
    };
}

}  // namespace quillbridge
