#include "wire/VideoColorPropertiesMessage.hpp"

#include "core/UnicodeText.hpp"
#include "wire/PropertyListReader.hpp"
#include "wire/PropertyListValue.hpp"

namespace quillbridge {

std::optional<std::string> canonicalFormatDescriptionExtensionsText(const std::optional<Bytes>& data) {
    if (!data)
        return std::nullopt;
    auto value = readPropertyList(*data);
    if (!value || !value->isDictionary())
        return std::nullopt;
    return canonicalPropertyListDescription(*value);
}

bool VideoColorPropertiesMessage::operator==(const VideoColorPropertiesMessage& other) const {
    if (!jsonValueEqual(colorPrimaries, other.colorPrimaries) ||
        !jsonValueEqual(transferFunction, other.transferFunction) ||
        !jsonValueEqual(yCbCrMatrix, other.yCbCrMatrix) || fullRangeVideo != other.fullRangeVideo ||
        contentLightLevelInfo != other.contentLightLevelInfo ||
        masteringDisplayColorVolume != other.masteringDisplayColorVolume) {
        return false;
    }
    if (!formatDescriptionExtensionsData && !other.formatDescriptionExtensionsData)
        return true;
    auto text = canonicalFormatDescriptionExtensionsText(formatDescriptionExtensionsData);
    auto otherText = canonicalFormatDescriptionExtensionsText(other.formatDescriptionExtensionsData);
    if (!text || !otherText)
        return !text && !otherText;
    return canonicallyEquivalent(*text, *otherText);
}

}  // namespace quillbridge
