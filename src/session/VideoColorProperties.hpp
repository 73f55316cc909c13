#pragma once

#include <optional>
#include <string>

#include "core/Bytes.hpp"
#include "session/CapturedVideoFrame.hpp"
#include "wire/PropertyListValue.hpp"
#include "wire/VideoColorPropertiesMessage.hpp"

namespace quillbridge {

// A frame's colour description: primaries, transfer function, matrix, range, HDR metadata, and a serialised
// copy of its colour-related format extensions. Strings are the colour names of VideoColorAttachmentKeys.hpp,
// passed through unchanged. A value always has at least one field: the readers below give no value at all
// when they find nothing.
struct VideoColorProperties {
    std::optional<std::string> colorPrimaries;
    std::optional<std::string> transferFunction;
    std::optional<std::string> yCbCrMatrix;
    std::optional<bool> fullRangeVideo;
    std::optional<Bytes> contentLightLevelInfo;
    std::optional<Bytes> masteringDisplayColorVolume;
    // A binary property list of the colour extensions (serializeColorExtensions).
    std::optional<Bytes> formatDescriptionExtensionsData;

    // From a format description's extensions. Values of the wrong type count as absent.
    static std::optional<VideoColorProperties> fromFormatDescription(
        const PropertyListValue::Dictionary& extensions);
    // From an image buffer's attachments; the range is not read from them.
    static std::optional<VideoColorProperties> fromImageBuffer(
        const PropertyListValue::Dictionary& attachments);
    // From a captured frame: its format description's properties completed from its image buffer's.
    static std::optional<VideoColorProperties> fromCapturedFrame(const CapturedVideoFrame& frame);

    // This value completed from `other`: each field is this value's when it has one, else other's; the
    // extension dictionaries are united, an entry of this value winning over one with the same key.
    VideoColorProperties merged(const std::optional<VideoColorProperties>& other) const;

    // Whether the transfer function is HLG or PQ.
    bool isHDR() const;

    VideoColorPropertiesMessage message() const;

    // Field by field; the extension blobs compare by content (their canonical property-list text), an
    // empty or unreadable blob counting as absent.
    bool operator==(const VideoColorProperties& other) const;
};

// Absent equals absent only; otherwise the values' equality.
bool sameColorProperties(const std::optional<VideoColorProperties>& a,
                         const std::optional<VideoColorProperties>& b);

// The colour extensions of `source` (only the eleven colour keys, in their fixed order) as a binary property
// list (format version 1.0). Entries whose values have no property-list form are left out; nothing when no
// entry is left.
std::optional<Bytes> serializeColorExtensions(const PropertyListValue::Dictionary& source);

}  // namespace quillbridge
