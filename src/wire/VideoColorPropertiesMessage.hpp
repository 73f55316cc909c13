#pragma once

#include <optional>
#include <string>
#include <tuple>

#include "core/Bytes.hpp"
#include "core/Json.hpp"

namespace quillbridge {

// The colour description of a video format. Every field is optional; with none set the JSON is {}.
//
// Equality is field by field, except for `formatDescriptionExtensionsData`, which compares by content: each
// side is read as a property list (binary, XML or the old text form) and, when it holds a string-keyed
// dictionary, turned into its canonical text (canonicalPropertyListDescription). The sides are equal when
// neither has a text or both texts are equal. So two serialisations of one dictionary are equal, and data
// that is no such property list equals absent data.
struct VideoColorPropertiesMessage {
    std::optional<std::string> colorPrimaries{};
    std::optional<std::string> transferFunction{};
    std::optional<std::string> yCbCrMatrix{};
    std::optional<bool> fullRangeVideo{};
    // HDR metadata blocks as the format carries them.
    std::optional<Bytes> contentLightLevelInfo{};
    std::optional<Bytes> masteringDisplayColorVolume{};
    // A serialised property list (the host writes the binary form) of further format extensions.
    std::optional<Bytes> formatDescriptionExtensionsData{};

    bool operator==(const VideoColorPropertiesMessage& other) const;
};

// The canonical text of serialised format extensions, or nothing when the data is absent, does not parse
// as a property list, or does not hold a string-keyed dictionary at its top level.
std::optional<std::string> canonicalFormatDescriptionExtensionsText(const std::optional<Bytes>& data);

template <>
struct JsonFields<VideoColorPropertiesMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("colorPrimaries", &VideoColorPropertiesMessage::colorPrimaries),
            jsonField("transferFunction", &VideoColorPropertiesMessage::transferFunction),
            jsonField("yCbCrMatrix", &VideoColorPropertiesMessage::yCbCrMatrix),
            jsonField("fullRangeVideo", &VideoColorPropertiesMessage::fullRangeVideo),
            jsonField("contentLightLevelInfo", &VideoColorPropertiesMessage::contentLightLevelInfo),
            jsonField("masteringDisplayColorVolume",
                      &VideoColorPropertiesMessage::masteringDisplayColorVolume),
            jsonField("formatDescriptionExtensionsData",
                      &VideoColorPropertiesMessage::formatDescriptionExtensionsData),
        };
    }
};

}  // namespace quillbridge
