#include "microphone_plugin/MicrophonePropertyChannelHandler.hpp"

#include <algorithm>
#include <cstring>
#include <expected>
#include <type_traits>

#include "microphone_plugin/MicrophonePropertyObject.hpp"

namespace quillbridge {

using namespace microphone;

namespace {

// A value as the driver takes it: plain bytes, or an 8-byte reference to an object this argument owns.
struct DriverArgument {
    std::vector<std::uint8_t> bytes;
    MicrophonePropertyObjectRef object;

    std::uint32_t size() const { return static_cast<std::uint32_t>(bytes.size()); }
    const void* data() const { return bytes.empty() ? nullptr : bytes.data(); }
};

template <typename Value>
std::vector<std::uint8_t> plainBytes(const Value& value) {
    std::vector<std::uint8_t> bytes(sizeof(value));
    std::memcpy(bytes.data(), &value, sizeof(value));
    return bytes;
}

std::optional<MicrophonePropertyObject*> createObject(const PropertyChannelValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        return MicrophonePropertyObject::createString(*text);
    }
    if (const auto* bytes = std::get_if<PropertyChannelBytes>(&value)) {
        return MicrophonePropertyObject::createData(*bytes);
    }
    if (const auto* dictionary = std::get_if<PropertyChannelDictionary>(&value)) {
        MicrophonePropertyObject::Entries entries;
        for (const auto& [key, scalar] : dictionary->entries) {
            if (const auto* number = std::get_if<std::int64_t>(&scalar)) {
                entries.emplace_back(key, MicrophoneNumber{MicrophoneNumber::Width::signed64, *number});
            } else if (const auto* small = std::get_if<std::uint32_t>(&scalar)) {
                entries.emplace_back(key, MicrophoneNumber{MicrophoneNumber::Width::signed64, *small});
            } else {
                return std::nullopt;
            }
        }
        return MicrophonePropertyObject::createDictionary(std::move(entries));
    }
    return std::nullopt;
}

// Where the property takes a reference only strings, data and dictionaries are accepted; elsewhere only
// numbers and plain bytes. An absent value is no data at all.
std::expected<DriverArgument, Status> driverArgument(const PropertyChannelValue& value, bool takesReference) {
    DriverArgument argument;
    if (std::holds_alternative<std::monostate>(value)) {
        return argument;
    }
    if (takesReference) {
        auto object = createObject(value);
        if (!object) {
            return std::unexpected(propertyChannelWrongValueType);
        }
        argument.object = MicrophonePropertyObjectRef::adopt(*object);
        argument.bytes = plainBytes(*object);
        return argument;
    }
    if (const auto* number = std::get_if<std::uint32_t>(&value)) {
        argument.bytes = plainBytes(*number);
    } else if (const auto* wide = std::get_if<std::int64_t>(&value)) {
        argument.bytes = plainBytes(*wide);
    } else if (const auto* real = std::get_if<double>(&value)) {
        argument.bytes = plainBytes(*real);
    } else if (const auto* bytes = std::get_if<PropertyChannelBytes>(&value)) {
        argument.bytes = *bytes;
    } else {
        return std::unexpected(propertyChannelWrongValueType);
    }
    return argument;
}

PropertyChannelValue channelValue(const MicrophonePropertyObject& object) {
    switch (object.kind()) {
        case MicrophonePropertyObject::Kind::string:
            return object.text();
        case MicrophonePropertyObject::Kind::data:
            return PropertyChannelBytes(object.bytes().begin(), object.bytes().end());
        case MicrophonePropertyObject::Kind::dictionary: {
            PropertyChannelDictionary dictionary;
            for (const auto& [key, number] : object.entries()) {
                dictionary.entries.emplace_back(key, number.value);
            }
            return dictionary;
        }
    }
    return {};
}

MicrophonePropertyAddress driverAddress(const PropertyChannelAddress& address) {
    return {address.selector, address.scope, address.element};
}

}  // namespace

PropertyChannelResponse MicrophonePropertyChannelHandler::handleMessage(std::span<const std::uint8_t> message,
                                                                        std::int32_t clientProcessID) const {
    auto decoded = decodePropertyChannelMessage(message);
    if (!decoded || !std::holds_alternative<PropertyChannelRequest>(*decoded)) {
        return {peekPropertyChannelRequestID(message).value_or(0), propertyChannelMalformedMessage, {}};
    }
    return handleRequest(std::get<PropertyChannelRequest>(*decoded), clientProcessID);
}

PropertyChannelResponse MicrophonePropertyChannelHandler::handleRequest(const PropertyChannelRequest& request,
                                                                        std::int32_t clientProcessID) const {
    const MicrophoneDriverInterface& table = **driver_;
    MicrophonePropertyAddress address = driverAddress(request.address);
    PropertyChannelResponse response{request.requestID, status::ok, {}};
    switch (request.operation) {
        case PropertyChannelOperation::hasProperty:
            response.value = std::uint32_t{
                table.hasProperty(driver_, request.objectID, clientProcessID, &address) ? 1u : 0u};
            return response;
        case PropertyChannelOperation::isPropertySettable: {
            bool settable = false;
            response.status =
                table.isPropertySettable(driver_, request.objectID, clientProcessID, &address, &settable);
            if (response.status == status::ok) {
                response.value = std::uint32_t{settable ? 1u : 0u};
            }
            return response;
        }
        case PropertyChannelOperation::getPropertyDataSize: {
            auto qualifier = driverArgument(request.qualifier, qualifierIsReference(address.selector));
            if (!qualifier) {
                return {request.requestID, qualifier.error(), {}};
            }
            std::uint32_t size = 0;
            response.status = table.getPropertyDataSize(driver_, request.objectID, clientProcessID, &address,
                                                        qualifier->size(), qualifier->data(), &size);
            if (response.status == status::ok) {
                response.value = size;
            }
            return response;
        }
        case PropertyChannelOperation::getPropertyData:
            return getData(request, clientProcessID);
        case PropertyChannelOperation::setPropertyData:
            return setData(request, clientProcessID);
    }
    return {request.requestID, propertyChannelMalformedMessage, {}};
}

PropertyChannelResponse MicrophonePropertyChannelHandler::getData(const PropertyChannelRequest& request,
                                                                  std::int32_t clientProcessID) const {
    const MicrophoneDriverInterface& table = **driver_;
    MicrophonePropertyAddress address = driverAddress(request.address);
    auto qualifier = driverArgument(request.qualifier, qualifierIsReference(address.selector));
    if (!qualifier) {
        return {request.requestID, qualifier.error(), {}};
    }
    std::uint32_t capacity = request.dataCapacity;
    if (capacity == propertyChannelReportedCapacity) {
        MicrophoneStatus sized =
            table.getPropertyDataSize(driver_, request.objectID, clientProcessID, &address, qualifier->size(),
                                      qualifier->data(), &capacity);
        if (sized != status::ok) {
            return {request.requestID, sized, {}};
        }
    }
    capacity = std::min(capacity, maximumDataCapacity);
    // At least one byte, so that the buffer has an address even for an empty answer.
    std::vector<std::uint8_t> buffer(std::max<std::uint32_t>(capacity, 1));
    std::uint32_t written = 0;
    MicrophoneStatus result =
        table.getPropertyData(driver_, request.objectID, clientProcessID, &address, qualifier->size(),
                              qualifier->data(), capacity, &written, buffer.data());
    if (result != status::ok) {
        return {request.requestID, result, {}};
    }
    written = std::min(written, capacity);
    PropertyChannelResponse response{request.requestID, status::ok, {}};
    switch (propertyValueKind(address.selector)) {
        case PropertyValueKind::reference:
            if (written == sizeof(void*)) {
                MicrophonePropertyObject* object = nullptr;
                std::memcpy(&object, buffer.data(), sizeof(object));
                auto owned = MicrophonePropertyObjectRef::adopt(object);
                response.value = owned ? channelValue(*owned.get()) : PropertyChannelValue{};
                return response;
            }
            break;
        case PropertyValueKind::unsigned32:
            if (written == sizeof(std::uint32_t)) {
                std::uint32_t value = 0;
                std::memcpy(&value, buffer.data(), sizeof(value));
                response.value = value;
                return response;
            }
            break;
        case PropertyValueKind::float64:
            if (written == sizeof(double)) {
                double value = 0;
                std::memcpy(&value, buffer.data(), sizeof(value));
                response.value = value;
                return response;
            }
            break;
        case PropertyValueKind::bytes:
            break;
    }
    response.value = PropertyChannelBytes(buffer.begin(), buffer.begin() + written);
    return response;
}

PropertyChannelResponse MicrophonePropertyChannelHandler::setData(const PropertyChannelRequest& request,
                                                                  std::int32_t clientProcessID) const {
    MicrophonePropertyAddress address = driverAddress(request.address);
    auto qualifier = driverArgument(request.qualifier, qualifierIsReference(address.selector));
    auto data =
        driverArgument(request.data, propertyValueKind(address.selector) == PropertyValueKind::reference);
    if (!qualifier || !data) {
        return {request.requestID, propertyChannelWrongValueType, {}};
    }
    MicrophoneStatus result =
        (**driver_).setPropertyData(driver_, request.objectID, clientProcessID, &address, qualifier->size(),
                                    qualifier->data(), data->size(), data->data());
    return {request.requestID, result, {}};
}

std::optional<std::vector<std::uint8_t>> MicrophonePropertyChannelHandler::encodePropertiesChanged(
    MicrophoneObjectID objectID, std::span<const MicrophonePropertyAddress> addresses) {
    PropertyChannelPropertiesChanged changed{objectID, {}};
    for (const auto& address : addresses) {
        changed.addresses.push_back({address.selector, address.scope, address.element});
    }
    return encodePropertyChannelMessage(changed);
}

}  // namespace quillbridge
