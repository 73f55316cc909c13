#pragma once

#include <optional>

#include "core/Bytes.hpp"
#include "platform/linux/audio/ElementaryStreamDescriptor.hpp"

namespace quillbridge {

// Reads an MPEG-4 audio ES_Descriptor the way a receiver of the magic cookie does, sizes in either form.
// Nothing unless it holds exactly an ES_Descriptor with a DecoderConfigDescriptor for MPEG-4 audio (object
// type 0x40, stream type 5) around a DecoderSpecificInfo, and an SLConfigDescriptor with predefined 2.
std::optional<ElementaryStreamDescriptor> readElementaryStreamDescriptor(ByteView bytes);

}  // namespace quillbridge
