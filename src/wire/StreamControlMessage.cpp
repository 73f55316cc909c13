#include "wire/StreamControlMessage.hpp"

#include <functional>
#include <utility>

namespace quillbridge {
namespace {

using Message = StreamControlMessage;
constexpr std::string_view payloadKey = "_0";

template <std::size_t Index>
JsonResult<Message> decodeCase(const Json& caseObject) {
    using Payload = std::variant_alternative_t<Index, Message::Payload>;
    std::string_view caseName = Message::caseNames[Index];
    if (!caseObject.is_object()) {
        return jsonFailureAt(caseName, JsonError{JsonErrorKind::typeMismatch,
                                                 {},
                                                 "Expected to decode Dictionary but found " +
                                                     detail::jsonTypeName(caseObject) + " instead."});
    }
    if constexpr (std::is_same_v<Payload, Message::NoPayload>) {
        // Members inside a payload-less case are ignored.
        return Message{Message::Payload(std::in_place_index<Index>)};
    } else {
        auto found = caseObject.find(payloadKey);
        if (found == caseObject.end()) {
            return jsonFailureAt(
                caseName, JsonError{JsonErrorKind::keyNotFound, {}, "No value associated with key _0."});
        }
        if (found->is_null()) {
            return jsonFailureAt(caseName, JsonError{JsonErrorKind::valueNotFound, std::string(payloadKey),
                                                     "Expected value but found null instead."});
        }
        auto payload = fromJson<Payload>(*found);
        if (!payload) {
            auto error = jsonFailureAt(payloadKey, payload.error());
            return jsonFailureAt(caseName, error.error());
        }
        return Message{Message::Payload(std::in_place_index<Index>, std::move(*payload))};
    }
}

using CaseDecoder = JsonResult<Message> (*)(const Json&);

template <std::size_t... Indices>
constexpr std::array<CaseDecoder, sizeof...(Indices)> makeDecoders(std::index_sequence<Indices...>) {
    return {&decodeCase<Indices>...};
}

constexpr auto caseDecoders = makeDecoders(std::make_index_sequence<Message::caseCount>());

template <std::size_t Index>
bool payloadsEqual(const Message::Payload& left, const Message::Payload& right) {
    return jsonValueEqual(std::get<Index>(left), std::get<Index>(right));
}

using PayloadComparison = bool (*)(const Message::Payload&, const Message::Payload&);

template <std::size_t... Indices>
constexpr std::array<PayloadComparison, sizeof...(Indices)> makeComparisons(std::index_sequence<Indices...>) {
    return {&payloadsEqual<Indices>...};
}

constexpr auto payloadComparisons = makeComparisons(std::make_index_sequence<Message::caseCount>());

}  // namespace

bool StreamControlMessage::operator==(const StreamControlMessage& other) const {
    if (payload.index() != other.payload.index() || payload.valueless_by_exception())
        return false;
    return payloadComparisons[payload.index()](payload, other.payload);
}

JsonResult<Json> JsonCoder<StreamControlMessage>::encode(const StreamControlMessage& message) {
    Json inner = Json::object();
    std::optional<JsonError> failure;
    std::visit(
        [&](const auto& payload) {
            using Payload = std::decay_t<decltype(payload)>;
            if constexpr (!std::is_same_v<Payload, Message::NoPayload>) {
                auto encoded = toJson(payload);
                if (!encoded) {
                    failure =
                        jsonFailureAt(message.caseName(), jsonFailureAt(payloadKey, encoded.error()).error())
                            .error();
                    return;
                }
                inner[std::string(payloadKey)] = std::move(*encoded);
            }
        },
        message.payload);
    if (failure)
        return std::unexpected(*failure);
    Json object = Json::object();
    object[std::string(message.caseName())] = std::move(inner);
    return object;
}

JsonResult<StreamControlMessage> JsonCoder<StreamControlMessage>::decode(const Json& json) {
    if (!json.is_object()) {
        return jsonFailure(JsonErrorKind::typeMismatch, "Expected to decode Dictionary but found " +
                                                            detail::jsonTypeName(json) + " instead.");
    }
    std::optional<std::size_t> caseIndex;
    const Json* caseObject = nullptr;
    for (const auto& [key, value] : json.items()) {
        for (std::size_t index = 0; index < Message::caseCount; ++index) {
            if (Message::caseNames[index] != key)
                continue;
            if (caseIndex)
                return jsonFailure(JsonErrorKind::typeMismatch,
                                   "Invalid number of keys found, expected one.");
            caseIndex = index;
            caseObject = &value;
        }
    }
    if (!caseIndex)
        return jsonFailure(JsonErrorKind::typeMismatch, "Invalid number of keys found, expected one.");
    return caseDecoders[*caseIndex](*caseObject);
}

}  // namespace quillbridge
