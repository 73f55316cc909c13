#include "core/Json.hpp"

namespace quillbridge {

std::string_view jsonErrorKindName(JsonErrorKind kind) {
    switch (kind) {
        case JsonErrorKind::typeMismatch:
            return "typeMismatch";
        case JsonErrorKind::keyNotFound:
            return "keyNotFound";
        case JsonErrorKind::valueNotFound:
            return "valueNotFound";
        case JsonErrorKind::dataCorrupted:
            return "dataCorrupted";
        case JsonErrorKind::invalidValue:
            return "invalidValue";
    }
    return "unknown";
}

std::string describe(const JsonError& error) {
    std::string text(jsonErrorKindName(error.kind));
    if (!error.codingPath.empty())
        text += " at " + error.codingPath;
    return text + ": " + error.description;
}

JsonCodingError::JsonCodingError(JsonError error)
    : std::runtime_error(describe(error)), error_(std::move(error)) {}

namespace detail {

std::string jsonTypeName(const Json& json) {
    switch (json.type()) {
        case Json::value_t::null:
            return "a null value";
        case Json::value_t::boolean:
            return "Bool";
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
        case Json::value_t::number_float:
            return "Number";
        case Json::value_t::string:
            return "String";
        case Json::value_t::array:
            return "Array";
        case Json::value_t::object:
            return "Dictionary";
        default:
            return "an unsupported value";
    }
}

namespace {

std::unexpected<JsonError> notANumber(const Json& json) {
    return jsonFailure(JsonErrorKind::typeMismatch,
                       "Expected to decode Number but found " + jsonTypeName(json) + " instead.");
}

std::unexpected<JsonError> doesNotFit(const std::string& number) {
    return jsonFailure(JsonErrorKind::dataCorrupted, "Parsed JSON number <" + number + "> does not fit.");
}

// 2^63 and 2^64 as doubles: the first values outside int64 and uint64.
constexpr double twoToThe63 = 9223372036854775808.0;
constexpr double twoToThe64 = 18446744073709551616.0;

}  // namespace

JsonResult<std::int64_t> readSignedInteger(const Json& json, std::int64_t minimum, std::int64_t maximum) {
    std::int64_t value = 0;
    if (json.is_number_unsigned()) {
        auto number = json.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(maximum))
            return doesNotFit(json.dump());
        value = static_cast<std::int64_t>(number);
    } else if (json.is_number_integer()) {
        value = json.get<std::int64_t>();
    } else if (json.is_number_float()) {
        double number = json.get<double>();
        if (!std::isfinite(number) || std::trunc(number) != number || number < -twoToThe63 ||
            number >= twoToThe63) {
            return doesNotFit(json.dump());
        }
        value = static_cast<std::int64_t>(number);
    } else {
        return notANumber(json);
    }
    if (value < minimum || value > maximum)
        return doesNotFit(json.dump());
    return value;
}

JsonResult<std::uint64_t> readUnsignedInteger(const Json& json, std::uint64_t maximum) {
    std::uint64_t value = 0;
    if (json.is_number_unsigned()) {
        value = json.get<std::uint64_t>();
    } else if (json.is_number_integer()) {
        auto number = json.get<std::int64_t>();
        if (number < 0)
            return doesNotFit(json.dump());
        value = static_cast<std::uint64_t>(number);
    } else if (json.is_number_float()) {
        double number = json.get<double>();
        if (!std::isfinite(number) || std::trunc(number) != number || number < 0 || number >= twoToThe64) {
            return doesNotFit(json.dump());
        }
        value = static_cast<std::uint64_t>(number);
    } else {
        return notANumber(json);
    }
    if (value > maximum)
        return doesNotFit(json.dump());
    return value;
}

JsonResult<double> readNumber(const Json& json) {
    if (!json.is_number())
        return notANumber(json);
    double value = json.get<double>();
    // Text such as 1e999 parses to infinity, which no field can hold (nor be written back).
    if (!std::isfinite(value))
        return doesNotFit(json.dump());
    return value;
}

JsonResult<std::string> readString(const Json& json) {
    if (!json.is_string()) {
        return jsonFailure(JsonErrorKind::typeMismatch,
                           "Expected to decode String but found " + jsonTypeName(json) + " instead.");
    }
    const auto& text = json.get_ref<const std::string&>();
    // Values parsed from text were checked by the parser; values built in memory may not have been.
    if (!isValidUtf8(text))
        return jsonFailure(JsonErrorKind::dataCorrupted, "String is not valid UTF-8.");
    return text;
}

JsonResult<Json> writeNumber(double value) {
    if (!std::isfinite(value)) {
        return jsonFailure(JsonErrorKind::invalidValue,
                           "Unable to encode " + std::to_string(value) + " directly in JSON.");
    }
    return Json(value);
}

JsonResult<Json> writeString(std::string_view value) {
    if (!isValidUtf8(value))
        return jsonFailure(JsonErrorKind::invalidValue, "String is not valid UTF-8.");
    return Json(std::string(value));
}

}  // namespace detail

JsonResult<Bytes> JsonCoder<Bytes>::decode(const Json& json) {
    auto text = detail::readString(json);
    if (!text)
        return std::unexpected(text.error());
    auto bytes = decodeBase64(*text);
    if (!bytes)
        return jsonFailure(JsonErrorKind::dataCorrupted, "Encountered Data is not valid Base64.");
    return std::move(*bytes);
}

JsonResult<Uuid> JsonCoder<Uuid>::decode(const Json& json) {
    auto text = detail::readString(json);
    if (!text)
        return std::unexpected(text.error());
    auto uuid = Uuid::parse(*text);
    if (!uuid)
        return jsonFailure(JsonErrorKind::dataCorrupted,
                           "Attempted to decode UUID from invalid UUID string.");
    return *uuid;
}

namespace {

// Deepest nesting of arrays and objects in the text, strings skipped; stops counting past `limit`.
bool nestingWithin(std::string_view text, std::size_t limit) {
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t index = 0; index < text.size(); ++index) {
        char c = text[index];
        if (inString) {
            if (c == '\\') {
                ++index;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit)
                return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

}  // namespace

JsonResult<Json> parseJson(std::string_view text) {
    if (!nestingWithin(text, maximumJsonDepth)) {
        return jsonFailure(JsonErrorKind::dataCorrupted,
                           "The given data was not valid JSON: nested too deeply.");
    }
    Json json = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded())
        return jsonFailure(JsonErrorKind::dataCorrupted, "The given data was not valid JSON.");
    return json;
}

std::string serializeJson(const Json& json) {
    // Strings were checked on the way in, so strict handling of invalid UTF-8 never throws here; replace
    // rather than throw should a hand-built value slip through.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace quillbridge
