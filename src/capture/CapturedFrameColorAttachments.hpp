#pragma once

#include "wire/PropertyListValue.hpp"

namespace quillbridge {

// The colour description of an 8-bit desktop frame: BT.709 primaries and matrix, sRGB transfer function.
// Used both as the image buffer's attachments and as the format description's extensions.
PropertyListValue::Dictionary standardDynamicRangeColorAttachments();

}  // namespace quillbridge
