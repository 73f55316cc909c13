#include "session/VideoColorProperties.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>
#include <variant>

#include <plist/plist.h>

#include "session/VideoColorAttachmentKeys.hpp"
#include "wire/PropertyListReader.hpp"

namespace quillbridge {
namespace {

// The only keys a serialised colour extension dictionary may hold, in the order they are written.
constexpr std::array<std::string_view, 11> colorExtensionKeys{
    videoColorKey::colorPrimaries,
    videoColorKey::transferFunction,
    videoColorKey::yCbCrMatrix,
    videoColorKey::fullRangeVideo,
    videoColorKey::contentLightLevelInfo,
    videoColorKey::masteringDisplayColorVolume,
    videoColorKey::contentColorVolume,
    videoColorKey::alternativeTransferCharacteristics,
    videoColorKey::ambientViewingEnvironment,
    videoColorKey::iccProfile,
    videoColorKey::gammaLevel,
};

// The image-buffer attachments copied into the extension dictionary of a frame read from its image buffer.
// Both sides use the same key strings.
constexpr std::array<std::string_view, 7> attachmentExtensionKeys{
    videoColorKey::colorPrimaries,
    videoColorKey::transferFunction,
    videoColorKey::yCbCrMatrix,
    videoColorKey::contentLightLevelInfo,
    videoColorKey::masteringDisplayColorVolume,
    videoColorKey::iccProfile,
    videoColorKey::gammaLevel,
};

const PropertyListValue* find(const PropertyListValue::Dictionary& dictionary, std::string_view key) {
    for (const auto& [entryKey, value] : dictionary) {
        if (entryKey == key)
            return &value;
    }
    return nullptr;
}

template <class T>
std::optional<T> read(const PropertyListValue::Dictionary& dictionary, std::string_view key) {
    const auto* value = find(dictionary, key);
    if (value == nullptr)
        return std::nullopt;
    if (const auto* typed = std::get_if<T>(&value->storage))
        return *typed;
    return std::nullopt;
}

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistNode = std::unique_ptr<void, PlistDeleter>;

// The property-list node of a value, or nothing when the value has no property-list form.
PlistNode toPlistNode(const PropertyListValue& value) {
    struct Converter {
        PlistNode operator()(const std::string& text) const {
            // The library takes C strings: a string with a NUL in it cannot be written whole.
            if (text.find('\0') != std::string::npos)
                return nullptr;
            return PlistNode(plist_new_string(text.c_str()));
        }
        PlistNode operator()(bool flag) const { return PlistNode(plist_new_bool(flag ? 1 : 0)); }
        PlistNode operator()(std::int64_t number) const {
            return PlistNode(plist_new_uint(static_cast<std::uint64_t>(number)));
        }
        PlistNode operator()(std::uint64_t number) const { return PlistNode(plist_new_uint(number)); }
        PlistNode operator()(double number) const { return PlistNode(plist_new_real(number)); }
        PlistNode operator()(const Bytes& bytes) const {
            return PlistNode(plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        }
        PlistNode operator()(const Date& date) const {
            const double seconds = std::floor(date.secondsSinceReferenceDate);
            if (!std::isfinite(seconds) || seconds < std::numeric_limits<std::int32_t>::min() ||
                seconds > std::numeric_limits<std::int32_t>::max())
                return nullptr;
            const auto microseconds =
                static_cast<std::int32_t>(std::lround((date.secondsSinceReferenceDate - seconds) * 1e6));
            return PlistNode(
                plist_new_date(static_cast<std::int32_t>(seconds), std::min(microseconds, 999'999)));
        }
        PlistNode operator()(const PropertyListValue::Array& array) const {
            PlistNode node(plist_new_array());
            for (const auto& element : array) {
                auto item = toPlistNode(element);
                if (!item)
                    return nullptr;
                plist_array_append_item(node.get(), item.release());
            }
            return node;
        }
        PlistNode operator()(const PropertyListValue::Dictionary& dictionary) const {
            PlistNode node(plist_new_dict());
            for (const auto& [key, entry] : dictionary) {
                if (key.find('\0') != std::string::npos)
                    continue;
                auto item = toPlistNode(entry);
                if (!item)
                    return nullptr;
                plist_dict_set_item(node.get(), key.c_str(), item.release());
            }
            return node;
        }
        PlistNode operator()(const PropertyListValue::Uid&) const { return nullptr; }
    };
    return std::visit(Converter{}, value.storage);
}

// The dictionary a serialised extension blob holds; empty when the blob is absent, unreadable or no
// dictionary.
PropertyListValue::Dictionary decodeExtensions(const std::optional<Bytes>& data) {
    if (!data)
        return {};
    auto value = readPropertyList(*data);
    if (!value)
        return {};
    if (auto* dictionary = std::get_if<PropertyListValue::Dictionary>(&value->storage))
        return std::move(*dictionary);
    return {};
}

std::optional<std::string> extensionsText(const std::optional<Bytes>& data) {
    auto dictionary = decodeExtensions(data);
    if (dictionary.empty())
        return std::nullopt;
    return canonicalPropertyListDescription(PropertyListValue{std::move(dictionary)});
}

bool hasAnyField(const VideoColorProperties& properties) {
    return properties.colorPrimaries || properties.transferFunction || properties.yCbCrMatrix ||
           properties.fullRangeVideo || properties.contentLightLevelInfo ||
           properties.masteringDisplayColorVolume || properties.formatDescriptionExtensionsData;
}

std::optional<VideoColorProperties> keptIfAny(VideoColorProperties properties) {
    if (!hasAnyField(properties))
        return std::nullopt;
    return properties;
}

}  // namespace

std::optional<Bytes> serializeColorExtensions(const PropertyListValue::Dictionary& source) {
    PlistNode dictionary(plist_new_dict());
    bool empty = true;
    for (auto key : colorExtensionKeys) {
        const auto* value = find(source, key);
        if (value == nullptr)
            continue;
        auto node = toPlistNode(*value);
        if (!node)
            continue;
        plist_dict_set_item(dictionary.get(), std::string(key).c_str(), node.release());
        empty = false;
    }
    if (empty)
        return std::nullopt;
    char* output = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(dictionary.get(), &output, &length);
    if (output == nullptr || length == 0)
        return std::nullopt;
    Bytes data(reinterpret_cast<const std::uint8_t*>(output),
               reinterpret_cast<const std::uint8_t*>(output) + length);
    plist_to_bin_free(output);
    return data;
}

std::optional<VideoColorProperties> VideoColorProperties::fromFormatDescription(
    const PropertyListValue::Dictionary& extensions) {
    VideoColorProperties properties;
    properties.colorPrimaries = read<std::string>(extensions, videoColorKey::colorPrimaries);
    properties.transferFunction = read<std::string>(extensions, videoColorKey::transferFunction);
    properties.yCbCrMatrix = read<std::string>(extensions, videoColorKey::yCbCrMatrix);
    properties.fullRangeVideo = read<bool>(extensions, videoColorKey::fullRangeVideo);
    properties.contentLightLevelInfo = read<Bytes>(extensions, videoColorKey::contentLightLevelInfo);
    properties.masteringDisplayColorVolume =
        read<Bytes>(extensions, videoColorKey::masteringDisplayColorVolume);
    properties.formatDescriptionExtensionsData = serializeColorExtensions(extensions);
    return keptIfAny(std::move(properties));
}

std::optional<VideoColorProperties> VideoColorProperties::fromImageBuffer(
    const PropertyListValue::Dictionary& attachments) {
    VideoColorProperties properties;
    properties.colorPrimaries = read<std::string>(attachments, videoColorKey::colorPrimaries);
    properties.transferFunction = read<std::string>(attachments, videoColorKey::transferFunction);
    properties.yCbCrMatrix = read<std::string>(attachments, videoColorKey::yCbCrMatrix);
    properties.contentLightLevelInfo = read<Bytes>(attachments, videoColorKey::contentLightLevelInfo);
    properties.masteringDisplayColorVolume =
        read<Bytes>(attachments, videoColorKey::masteringDisplayColorVolume);
    PropertyListValue::Dictionary extensions;
    for (auto key : attachmentExtensionKeys) {
        if (const auto* value = find(attachments, key))
            extensions.emplace_back(std::string(key), *value);
    }
    properties.formatDescriptionExtensionsData = serializeColorExtensions(extensions);
    return keptIfAny(std::move(properties));
}

std::optional<VideoColorProperties> VideoColorProperties::fromCapturedFrame(const CapturedVideoFrame& frame) {
    std::optional<VideoColorProperties> fromFormat;
    if (frame.formatDescription)
        fromFormat = fromFormatDescription(frame.formatDescription->extensions);
    if (!frame.imageBuffer)
        return fromFormat;
    auto fromImage = fromImageBuffer(frame.imageBuffer->attachments);
    if (!fromFormat)
        return fromImage;
    return fromFormat->merged(fromImage);
}

VideoColorProperties VideoColorProperties::merged(const std::optional<VideoColorProperties>& other) const {
    if (!other)
        return *this;
    VideoColorProperties result;
    result.colorPrimaries = colorPrimaries ? colorPrimaries : other->colorPrimaries;
    result.transferFunction = transferFunction ? transferFunction : other->transferFunction;
    result.yCbCrMatrix = yCbCrMatrix ? yCbCrMatrix : other->yCbCrMatrix;
    result.fullRangeVideo = fullRangeVideo ? fullRangeVideo : other->fullRangeVideo;
    result.contentLightLevelInfo =
        contentLightLevelInfo ? contentLightLevelInfo : other->contentLightLevelInfo;
    result.masteringDisplayColorVolume =
        masteringDisplayColorVolume ? masteringDisplayColorVolume : other->masteringDisplayColorVolume;

    auto extensions = decodeExtensions(formatDescriptionExtensionsData);
    auto otherExtensions = decodeExtensions(other->formatDescriptionExtensionsData);
    if (!extensions.empty() || !otherExtensions.empty()) {
        for (auto& [key, value] : otherExtensions) {
            if (find(extensions, key) == nullptr)
                extensions.emplace_back(key, std::move(value));
        }
        result.formatDescriptionExtensionsData = serializeColorExtensions(extensions);
    }
    return result;
}

bool VideoColorProperties::isHDR() const {
    return transferFunction && (*transferFunction == videoTransferFunction::hlg ||
                                *transferFunction == videoTransferFunction::pq);
}

VideoColorPropertiesMessage VideoColorProperties::message() const {
    return VideoColorPropertiesMessage{colorPrimaries,
                                       transferFunction,
                                       yCbCrMatrix,
                                       fullRangeVideo,
                                       contentLightLevelInfo,
                                       masteringDisplayColorVolume,
                                       formatDescriptionExtensionsData};
}

bool VideoColorProperties::operator==(const VideoColorProperties& other) const {
    return colorPrimaries == other.colorPrimaries && transferFunction == other.transferFunction &&
           yCbCrMatrix == other.yCbCrMatrix && fullRangeVideo == other.fullRangeVideo &&
           contentLightLevelInfo == other.contentLightLevelInfo &&
           masteringDisplayColorVolume == other.masteringDisplayColorVolume &&
           extensionsText(formatDescriptionExtensionsData) ==
               extensionsText(other.formatDescriptionExtensionsData);
}

bool sameColorProperties(const std::optional<VideoColorProperties>& a,
                         const std::optional<VideoColorProperties>& b) {
    if (!a || !b)
        return !a && !b;
    return *a == *b;
}

}  // namespace quillbridge
