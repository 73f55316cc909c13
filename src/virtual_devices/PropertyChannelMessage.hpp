#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "virtual_devices/MicrophoneByteOrder.hpp"
#include "virtual_devices/MicrophoneDeviceIdentifiers.hpp"

// The property channel between the host and the microphone program: the host reads and sets the
// microphone's object properties and hears when they change. Each message is one record of a SOCK_SEQPACKET
// socket (propertyChannelSocketName in $XDG_RUNTIME_DIR), little-endian:
//
//   header    magic "QBPC", version u16 (1), kind u16 (1 request, 2 response, 3 properties changed),
//             request identifier u32 (0 in a properties-changed message)
//   request   operation u8 (1 has, 2 is settable, 3 data size, 4 get, 5 set), object u32,
//             address (selector u32, scope u32, element u32), data capacity u32 (get: the bytes the host
//             takes; 0xFFFFFFFF takes the size the program reports), qualifier value, data value (set)
//   response  status i32, value: has and is settable answer a u32 0 or 1, data size a u32, get the property's
//             value, set none
//   changed   object u32, count u32 (1...16), count addresses
//   value     tag u8 and then: 0 none; 1 u32; 2 i64; 3 f64; 4 string: length u32 (at most 4096) and UTF-8;
//             5 bytes: length u32 and the bytes; 6 dictionary: count u32 (at most 64) and count entries of
//             a key (length u32, at most 256, and UTF-8) and a value of tag 1 to 5
//
// A message is at most propertyChannelMaximumMessageByteCount bytes and is read exactly: a length past the
// end, an unknown tag or kind, a bad UTF-8 string or a trailing byte make it malformed. A malformed request
// is answered with status propertyChannelMalformedMessage (and the request identifier when the header could
// be read). Properties of reference kind (strings, data, dictionaries) travel as values of tag 4 to 6; a
// value of another type where a reference is due is answered with propertyChannelWrongValueType.
namespace quillbridge::microphone {

inline constexpr std::size_t propertyChannelMaximumMessageByteCount = 196608;
inline constexpr std::size_t propertyChannelMaximumStringByteCount = 4096;
inline constexpr std::size_t propertyChannelMaximumKeyByteCount = 256;
inline constexpr std::size_t propertyChannelMaximumDictionaryCount = 64;
inline constexpr std::size_t propertyChannelMaximumChangedAddressCount = 16;
inline constexpr std::uint32_t propertyChannelReportedCapacity = 0xFFFFFFFF;
inline constexpr std::uint16_t propertyChannelVersion = 1;
inline constexpr Status propertyChannelMalformedMessage = fourCharCode("bmsg");
inline constexpr Status propertyChannelWrongValueType = fourCharCode("btyp");

using PropertyChannelBytes = std::vector<std::uint8_t>;
// A value inside a dictionary.
using PropertyChannelScalar =
    std::variant<std::uint32_t, std::int64_t, double, std::string, PropertyChannelBytes>;

struct PropertyChannelDictionary {
    std::vector<std::pair<std::string, PropertyChannelScalar>> entries;

    // The entry's value, if the key is there.
    const PropertyChannelScalar* find(std::string_view key) const {
        for (const auto& [entryKey, value] : entries) {
            if (entryKey == key) {
                return &value;
            }
        }
        return nullptr;
    }
    bool operator==(const PropertyChannelDictionary&) const = default;
};

using PropertyChannelValue = std::variant<std::monostate, std::uint32_t, std::int64_t, double, std::string,
                                          PropertyChannelBytes, PropertyChannelDictionary>;

enum class PropertyChannelOperation : std::uint8_t {
    hasProperty = 1,
    isPropertySettable = 2,
    getPropertyDataSize = 3,
    getPropertyData = 4,
    setPropertyData = 5,
};

struct PropertyChannelAddress {
    PropertySelector selector = 0;
    PropertyScope scope = scope::global;
    PropertyElement element = mainElement;

    bool operator==(const PropertyChannelAddress&) const = default;
};

struct PropertyChannelRequest {
    std::uint32_t requestID = 0;
    PropertyChannelOperation operation = PropertyChannelOperation::getPropertyData;
    ObjectID objectID = unknownObjectID;
    PropertyChannelAddress address;
    std::uint32_t dataCapacity = propertyChannelReportedCapacity;
    PropertyChannelValue qualifier;
    PropertyChannelValue data;

    bool operator==(const PropertyChannelRequest&) const = default;
};

struct PropertyChannelResponse {
    std::uint32_t requestID = 0;
    Status status = status::ok;
    PropertyChannelValue value;

    bool operator==(const PropertyChannelResponse&) const = default;
};

struct PropertyChannelPropertiesChanged {
    ObjectID objectID = unknownObjectID;
    std::vector<PropertyChannelAddress> addresses;

    bool operator==(const PropertyChannelPropertiesChanged&) const = default;
};

using PropertyChannelMessage =
    std::variant<PropertyChannelRequest, PropertyChannelResponse, PropertyChannelPropertiesChanged>;

namespace detail {

inline constexpr std::uint8_t propertyChannelMagic[4] = {'Q', 'B', 'P', 'C'};
inline constexpr std::size_t propertyChannelHeaderByteCount = 12;

enum class PropertyChannelKind : std::uint16_t { request = 1, response = 2, propertiesChanged = 3 };
enum class PropertyChannelTag : std::uint8_t { none, u32, i64, f64, string, bytes, dictionary };

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
inline bool isValidUTF8(std::span<const std::uint8_t> text) {
    std::size_t index = 0;
    while (index < text.size()) {
        std::uint8_t lead = text[index];
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        if (length == 0 || index + length > text.size()) {
            return false;
        }
        std::uint32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t next = 1; next < length; ++next) {
            if ((text[index + next] & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (text[index + next] & 0x3F);
        }
        static constexpr std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < smallest[length] || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        index += length;
    }
    return true;
}

inline std::optional<std::string> readText(LittleEndianReader& reader, std::size_t maximumByteCount) {
    auto length = reader.read<std::uint32_t>();
    if (!length || *length > maximumByteCount) {
        return std::nullopt;
    }
    auto bytes = reader.readBytes(*length);
    if (!bytes || !isValidUTF8(*bytes)) {
        return std::nullopt;
    }
    return std::string(bytes->begin(), bytes->end());
}

inline bool appendText(PropertyChannelBytes& buffer, std::string_view text, std::size_t maximumByteCount) {
    auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    if (text.size() > maximumByteCount || !isValidUTF8(bytes)) {
        return false;
    }
    appendLittleEndian(buffer, static_cast<std::uint32_t>(text.size()));
    buffer.insert(buffer.end(), bytes.begin(), bytes.end());
    return true;
}

// A value of a tag other than none and dictionary (the forms a dictionary entry may take).
inline std::optional<PropertyChannelScalar> readScalar(LittleEndianReader& reader, PropertyChannelTag tag) {
    switch (tag) {
        case PropertyChannelTag::u32:
            if (auto value = reader.read<std::uint32_t>()) {
                return PropertyChannelScalar(*value);
            }
            return std::nullopt;
        case PropertyChannelTag::i64:
            if (auto value = reader.read<std::int64_t>()) {
                return PropertyChannelScalar(*value);
            }
            return std::nullopt;
        case PropertyChannelTag::f64:
            if (auto value = reader.readDouble()) {
                return PropertyChannelScalar(*value);
            }
            return std::nullopt;
        case PropertyChannelTag::string:
            if (auto text = readText(reader, propertyChannelMaximumStringByteCount)) {
                return PropertyChannelScalar(std::move(*text));
            }
            return std::nullopt;
        case PropertyChannelTag::bytes: {
            auto length = reader.read<std::uint32_t>();
            auto bytes = length ? reader.readBytes(*length) : std::nullopt;
            if (!bytes) {
                return std::nullopt;
            }
            return PropertyChannelScalar(PropertyChannelBytes(bytes->begin(), bytes->end()));
        }
        default:
            return std::nullopt;
    }
}

inline std::optional<PropertyChannelDictionary> readDictionary(LittleEndianReader& reader) {
    auto count = reader.read<std::uint32_t>();
    if (!count || *count > propertyChannelMaximumDictionaryCount) {
        return std::nullopt;
    }
    PropertyChannelDictionary dictionary;
    dictionary.entries.reserve(*count);
    for (std::uint32_t index = 0; index < *count; ++index) {
        auto key = readText(reader, propertyChannelMaximumKeyByteCount);
        auto tag = key ? reader.read<std::uint8_t>() : std::nullopt;
        auto value = tag ? readScalar(reader, PropertyChannelTag(*tag)) : std::nullopt;
        if (!value) {
            return std::nullopt;
        }
        dictionary.entries.emplace_back(std::move(*key), std::move(*value));
    }
    return dictionary;
}

inline std::optional<PropertyChannelValue> readValue(LittleEndianReader& reader) {
    auto tag = reader.read<std::uint8_t>();
    if (!tag) {
        return std::nullopt;
    }
    switch (PropertyChannelTag(*tag)) {
        case PropertyChannelTag::none:
            return PropertyChannelValue{};
        case PropertyChannelTag::dictionary:
            if (auto dictionary = readDictionary(reader)) {
                return PropertyChannelValue(std::move(*dictionary));
            }
            return std::nullopt;
        default:
            if (auto scalar = readScalar(reader, PropertyChannelTag(*tag))) {
                return std::visit([](auto&& value) { return PropertyChannelValue(std::move(value)); },
                                  std::move(*scalar));
            }
            return std::nullopt;
    }
}

inline bool appendScalar(PropertyChannelBytes& buffer, const PropertyChannelScalar& scalar) {
    return std::visit(
        [&buffer]<typename Value>(const Value& value) {
            if constexpr (std::is_same_v<Value, std::uint32_t>) {
                buffer.push_back(std::uint8_t(PropertyChannelTag::u32));
                appendLittleEndian(buffer, value);
            } else if constexpr (std::is_same_v<Value, std::int64_t>) {
                buffer.push_back(std::uint8_t(PropertyChannelTag::i64));
                appendLittleEndian(buffer, value);
            } else if constexpr (std::is_same_v<Value, double>) {
                buffer.push_back(std::uint8_t(PropertyChannelTag::f64));
                appendLittleEndianDouble(buffer, value);
            } else if constexpr (std::is_same_v<Value, std::string>) {
                buffer.push_back(std::uint8_t(PropertyChannelTag::string));
                return appendText(buffer, value, propertyChannelMaximumStringByteCount);
            } else {
                if (value.size() > propertyChannelMaximumMessageByteCount) {
                    return false;
                }
                buffer.push_back(std::uint8_t(PropertyChannelTag::bytes));
                appendLittleEndian(buffer, static_cast<std::uint32_t>(value.size()));
                buffer.insert(buffer.end(), value.begin(), value.end());
            }
            return true;
        },
        scalar);
}

inline bool appendValue(PropertyChannelBytes& buffer, const PropertyChannelValue& value) {
    if (std::holds_alternative<std::monostate>(value)) {
        buffer.push_back(std::uint8_t(PropertyChannelTag::none));
        return true;
    }
    if (const auto* dictionary = std::get_if<PropertyChannelDictionary>(&value)) {
        if (dictionary->entries.size() > propertyChannelMaximumDictionaryCount) {
            return false;
        }
        buffer.push_back(std::uint8_t(PropertyChannelTag::dictionary));
        appendLittleEndian(buffer, static_cast<std::uint32_t>(dictionary->entries.size()));
        for (const auto& [key, entry] : dictionary->entries) {
            if (!appendText(buffer, key, propertyChannelMaximumKeyByteCount) ||
                !appendScalar(buffer, entry)) {
                return false;
            }
        }
        return true;
    }
    return std::visit(
        [&buffer]<typename Alternative>(const Alternative& alternative) {
            if constexpr (std::is_constructible_v<PropertyChannelScalar, Alternative> &&
                          !std::is_same_v<Alternative, PropertyChannelDictionary>) {
                return appendScalar(buffer, PropertyChannelScalar(alternative));
            } else {
                return false;
            }
        },
        value);
}

inline void appendAddress(PropertyChannelBytes& buffer, const PropertyChannelAddress& address) {
    appendLittleEndian(buffer, address.selector);
    appendLittleEndian(buffer, address.scope);
    appendLittleEndian(buffer, address.element);
}

inline std::optional<PropertyChannelAddress> readAddress(LittleEndianReader& reader) {
    auto selector = reader.read<std::uint32_t>();
    auto scope = reader.read<std::uint32_t>();
    auto element = reader.read<std::uint32_t>();
    if (!selector || !scope || !element) {
        return std::nullopt;
    }
    return PropertyChannelAddress{*selector, *scope, *element};
}

inline std::optional<PropertyChannelRequest> readRequest(LittleEndianReader& reader,
                                                         std::uint32_t requestID) {
    PropertyChannelRequest request;
    request.requestID = requestID;
    auto operation = reader.read<std::uint8_t>();
    if (!operation || *operation < 1 || *operation > 5) {
        return std::nullopt;
    }
    request.operation = PropertyChannelOperation(*operation);
    auto objectID = reader.read<std::uint32_t>();
    auto address = objectID ? readAddress(reader) : std::nullopt;
    auto capacity = address ? reader.read<std::uint32_t>() : std::nullopt;
    auto qualifier = capacity ? readValue(reader) : std::nullopt;
    auto data = qualifier ? readValue(reader) : std::nullopt;
    if (!data) {
        return std::nullopt;
    }
    request.objectID = *objectID;
    request.address = *address;
    request.dataCapacity = *capacity;
    request.qualifier = std::move(*qualifier);
    request.data = std::move(*data);
    return request;
}

inline std::optional<PropertyChannelPropertiesChanged> readPropertiesChanged(LittleEndianReader& reader) {
    auto objectID = reader.read<std::uint32_t>();
    auto count = objectID ? reader.read<std::uint32_t>() : std::nullopt;
    if (!count || *count == 0 || *count > propertyChannelMaximumChangedAddressCount) {
        return std::nullopt;
    }
    PropertyChannelPropertiesChanged changed{*objectID, {}};
    for (std::uint32_t index = 0; index < *count; ++index) {
        auto address = readAddress(reader);
        if (!address) {
            return std::nullopt;
        }
        changed.addresses.push_back(*address);
    }
    return changed;
}

inline void appendHeader(PropertyChannelBytes& buffer, PropertyChannelKind kind, std::uint32_t requestID) {
    buffer.insert(buffer.end(), std::begin(propertyChannelMagic), std::end(propertyChannelMagic));
    appendLittleEndian(buffer, propertyChannelVersion);
    appendLittleEndian(buffer, static_cast<std::uint16_t>(kind));
    appendLittleEndian(buffer, requestID);
}

inline bool appendBody(PropertyChannelBytes& buffer, const PropertyChannelRequest& request) {
    appendHeader(buffer, PropertyChannelKind::request, request.requestID);
    buffer.push_back(static_cast<std::uint8_t>(request.operation));
    appendLittleEndian(buffer, request.objectID);
    appendAddress(buffer, request.address);
    appendLittleEndian(buffer, request.dataCapacity);
    return appendValue(buffer, request.qualifier) && appendValue(buffer, request.data);
}

inline bool appendBody(PropertyChannelBytes& buffer, const PropertyChannelResponse& response) {
    appendHeader(buffer, PropertyChannelKind::response, response.requestID);
    appendLittleEndian(buffer, response.status);
    return appendValue(buffer, response.value);
}

inline bool appendBody(PropertyChannelBytes& buffer, const PropertyChannelPropertiesChanged& changed) {
    if (changed.addresses.empty() || changed.addresses.size() > propertyChannelMaximumChangedAddressCount) {
        return false;
    }
    appendHeader(buffer, PropertyChannelKind::propertiesChanged, 0);
    appendLittleEndian(buffer, changed.objectID);
    appendLittleEndian(buffer, static_cast<std::uint32_t>(changed.addresses.size()));
    for (const auto& address : changed.addresses) {
        appendAddress(buffer, address);
    }
    return true;
}

}  // namespace detail

// The message's bytes; nothing when a field is beyond the format's bounds (then no peer could read it).
inline std::optional<PropertyChannelBytes> encodePropertyChannelMessage(
    const PropertyChannelMessage& message) {
    PropertyChannelBytes buffer;
    bool encoded =
        std::visit([&buffer](const auto& body) { return detail::appendBody(buffer, body); }, message);
    if (!encoded || buffer.size() > propertyChannelMaximumMessageByteCount) {
        return std::nullopt;
    }
    return buffer;
}

// The message in these bytes; nothing for anything malformed. Never allocates more than the bytes can hold.
inline std::optional<PropertyChannelMessage> decodePropertyChannelMessage(
    std::span<const std::uint8_t> bytes) {
    if (bytes.size() > propertyChannelMaximumMessageByteCount) {
        return std::nullopt;
    }
    LittleEndianReader reader(bytes);
    auto magic = reader.readBytes(4);
    if (!magic || !std::equal(magic->begin(), magic->end(), std::begin(detail::propertyChannelMagic))) {
        return std::nullopt;
    }
    auto version = reader.read<std::uint16_t>();
    auto kind = reader.read<std::uint16_t>();
    auto requestID = reader.read<std::uint32_t>();
    if (!requestID || *version != propertyChannelVersion) {
        return std::nullopt;
    }
    std::optional<PropertyChannelMessage> message;
    switch (detail::PropertyChannelKind(*kind)) {
        case detail::PropertyChannelKind::request:
            if (auto request = detail::readRequest(reader, *requestID)) {
                message = std::move(*request);
            }
            break;
        case detail::PropertyChannelKind::response: {
            auto status = reader.read<std::int32_t>();
            auto value = status ? detail::readValue(reader) : std::nullopt;
            if (value) {
                message = PropertyChannelResponse{*requestID, *status, std::move(*value)};
            }
            break;
        }
        case detail::PropertyChannelKind::propertiesChanged:
            if (auto changed = detail::readPropertiesChanged(reader); changed && *requestID == 0) {
                message = std::move(*changed);
            }
            break;
    }
    if (!message || reader.remaining() != 0) {
        return std::nullopt;
    }
    return message;
}

// The request identifier of a message whose header can be read, so that a malformed request still gets an
// answer the sender can match.
inline std::optional<std::uint32_t> peekPropertyChannelRequestID(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < detail::propertyChannelHeaderByteCount ||
        !std::equal(bytes.begin(), bytes.begin() + 4, std::begin(detail::propertyChannelMagic))) {
        return std::nullopt;
    }
    return loadLittleEndian<std::uint32_t>(bytes.data() + 8);
}

}  // namespace quillbridge::microphone
