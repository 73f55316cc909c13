#include "core/Json.hpp"

#include <algorithm>
#include <bit>
#include <unordered_set>

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

// Integer fields take only numbers held as integers. The parser keeps every number whose text is exactly
// a 64-bit integer (60, 60.0, 3e0) as an integer; what remains a double is a fraction, beyond 64 bits, or
// an integer a double cannot hold exactly, and reading it through the double would round it.
std::unexpected<JsonError> notAnExactInteger(const Json& json) {
    return jsonFailure(JsonErrorKind::dataCorrupted,
                       "Parsed JSON number <" + json.dump() + "> is not an exact integer.");
}

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
        return notAnExactInteger(json);
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
        return notAnExactInteger(json);
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

// The integer a JSON number's decimal text stands for, when it is exactly an integer whose magnitude is
// below 2^64.
struct ExactInteger {
    bool negative = false;
    std::uint64_t magnitude = 0;
};

std::optional<ExactInteger> exactIntegerOf(std::string_view text) {
    ExactInteger result;
    std::size_t index = 0;
    if (index < text.size() && text[index] == '-') {
        result.negative = true;
        ++index;
    }
    // The significant digits, with the decimal point taken out, and the power of ten they are scaled by.
    std::string_view integerPart;
    std::string_view fractionPart;
    std::size_t begin = index;
    while (index < text.size() && text[index] >= '0' && text[index] <= '9')
        ++index;
    integerPart = text.substr(begin, index - begin);
    if (index < text.size() && text[index] == '.') {
        begin = ++index;
        while (index < text.size() && text[index] >= '0' && text[index] <= '9')
            ++index;
        fractionPart = text.substr(begin, index - begin);
    }
    // Exponents are clamped far beyond where any value could still be a 64-bit integer.
    constexpr std::int64_t exponentClamp = 1'000'000;
    std::int64_t exponent = 0;
    if (index < text.size() && (text[index] == 'e' || text[index] == 'E')) {
        ++index;
        bool negativeExponent = false;
        if (index < text.size() && (text[index] == '+' || text[index] == '-'))
            negativeExponent = text[index++] == '-';
        for (; index < text.size() && text[index] >= '0' && text[index] <= '9'; ++index) {
            exponent = std::min(exponent * 10 + (text[index] - '0'), exponentClamp);
        }
        if (negativeExponent)
            exponent = -exponent;
    }
    if (index != text.size() || integerPart.empty())
        return std::nullopt;

    std::string digits;
    digits.reserve(integerPart.size() + fractionPart.size());
    digits.append(integerPart).append(fractionPart);
    exponent -= static_cast<std::int64_t>(fractionPart.size());
    std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos)
        return result;  // zero, whatever its form
    std::size_t last = digits.find_last_not_of('0');
    exponent += static_cast<std::int64_t>(digits.size() - 1 - last);
    std::string_view significant = std::string_view(digits).substr(first, last + 1 - first);
    if (exponent < 0)
        return std::nullopt;  // a fraction remains
    // 10^20 exceeds 2^64: more than 20 digits never fit.
    if (static_cast<std::int64_t>(significant.size()) + exponent > 20)
        return std::nullopt;
    std::uint64_t magnitude = 0;
    for (char digit : significant) {
        if (__builtin_mul_overflow(magnitude, 10u, &magnitude) ||
            __builtin_add_overflow(magnitude, static_cast<std::uint64_t>(digit - '0'), &magnitude)) {
            return std::nullopt;
        }
    }
    for (std::int64_t power = 0; power < exponent; ++power) {
        if (__builtin_mul_overflow(magnitude, 10u, &magnitude))
            return std::nullopt;
    }
    result.magnitude = magnitude;
    return result;
}

// Whether a double holds the integer exactly: at most 53 significant bits.
bool exactlyRepresentableAsDouble(std::uint64_t magnitude) {
    return magnitude == 0 || std::bit_width(magnitude) - std::countr_zero(magnitude) <= 53;
}

// Builds the value of a JSON text from the parser's events, refusing what the layer does not accept
// (duplicate member names, nesting beyond the limit) and keeping integers exact.
class StrictJsonBuilder {
public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    bool null() { return place(Json(nullptr)); }
    bool boolean(bool value) { return place(Json(value)); }
    bool number_integer(number_integer_t value) { return place(Json(value)); }
    bool number_unsigned(number_unsigned_t value) { return place(Json(value)); }

    // Called for every number written with a fraction or an exponent, and for integers beyond 64 bits.
    // A number whose text is exactly an integer of 64 bits that a double also holds exactly is kept as
    // an integer, so that integer fields accept 60.0 and 3e0; every other number stays a double, which
    // integer fields refuse (3.5, 18446744073709551616, 9.007199254740993e15).
    bool number_float(number_float_t value, const string_t& text) {
        auto exact = exactIntegerOf(text);
        if (exact && exactlyRepresentableAsDouble(exact->magnitude)) {
            constexpr std::uint64_t int64MinimumMagnitude = std::uint64_t{1} << 63;
            if (!exact->negative)
                return place(Json(exact->magnitude));
            if (exact->magnitude < int64MinimumMagnitude)
                return place(Json(-static_cast<std::int64_t>(exact->magnitude)));
            if (exact->magnitude == int64MinimumMagnitude)
                return place(Json(std::numeric_limits<std::int64_t>::min()));
        }
        return place(Json(value));
    }

    bool string(string_t& value) { return place(Json(std::move(value))); }
    bool binary(binary_t&) { return fail("The given data was not valid JSON."); }

    bool start_object(std::size_t) { return open(Json::object()); }
    bool start_array(std::size_t) { return open(Json::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(string_t& name) {
        if (!isNewName(open_.back(), name)) {
            failure_ = JsonError{JsonErrorKind::dataCorrupted, pathTo(name),
                                 "The given data was not valid JSON: duplicate member name."};
            return false;
        }
        pendingKey_ = std::move(name);
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return fail("The given data was not valid JSON.");
    }

    JsonResult<Json> result() {
        if (failure_)
            return std::unexpected(std::move(*failure_));
        return std::move(root_);
    }

private:
    struct OpenContainer {
        Json* value;
        std::string name;  // the member name or "Index n" under which it sits in its parent
        // The member names of a large object, so that a frame full of names costs no quadratic search.
        std::unordered_set<std::string> names;
    };

    // Small objects, nearly all of them, are searched; large ones keep a set of their names.
    static constexpr std::size_t searchedObjectSize = 16;

    static bool isNewName(OpenContainer& object, const std::string& name) {
        const auto& members = object.value->get_ref<const Json::object_t&>();
        if (members.size() < searchedObjectSize)
            return object.value->find(name) == object.value->end();
        if (object.names.empty()) {
            for (const auto& member : members)
                object.names.insert(member.first);
        }
        return object.names.insert(name).second;
    }

    bool fail(std::string description) {
        if (!failure_)
            failure_ = JsonError{JsonErrorKind::dataCorrupted, {}, std::move(description)};
        return false;
    }

    // Puts a value where the text has it: the root, the next array element, or the pending member.
    bool place(Json value) {
        placeAndLocate(std::move(value));
        return true;
    }
    Json& placeAndLocate(Json value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return root_;
        }
        Json& parent = *open_.back().value;
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return parent.back();
        }
        auto& members = parent.get_ref<Json::object_t&>();
        members.emplace_back(std::move(pendingKey_), std::move(value));
        return members.back().second;
    }

    bool open(Json container) {
        if (open_.size() >= maximumJsonDepth)
            return fail("The given data was not valid JSON: nested too deeply.");
        std::string name;
        if (!open_.empty()) {
            const Json& parent = *open_.back().value;
            name = parent.is_array() ? "Index " + std::to_string(parent.size()) : pendingKey_;
        }
        Json& placed = placeAndLocate(std::move(container));
        open_.push_back(OpenContainer{&placed, std::move(name), {}});
        return true;
    }

    bool close() {
        open_.pop_back();
        return true;
    }

    std::string pathTo(const std::string& name) const {
        std::string path;
        for (std::size_t level = 1; level < open_.size(); ++level)
            path += open_[level].name + ".";
        return path + name;
    }

    Json root_;
    std::vector<OpenContainer> open_;
    std::string pendingKey_;
    std::optional<JsonError> failure_;
};

}  // namespace

JsonResult<Json> parseJson(std::string_view text) {
    // The parser would take a NUL byte for the end of the text and ignore whatever follows it.
    if (text.find('\0') != std::string_view::npos) {
        return jsonFailure(JsonErrorKind::dataCorrupted,
                           "The given data was not valid JSON: it contains a NUL byte.");
    }
    StrictJsonBuilder builder;
    if (!Json::sax_parse(text.begin(), text.end(), &builder)) {
        auto result = builder.result();
        if (!result)
            return result;
        return jsonFailure(JsonErrorKind::dataCorrupted, "The given data was not valid JSON.");
    }
    return builder.result();
}

std::string serializeJson(const Json& json) {
    // Strings were checked on the way in, so strict handling of invalid UTF-8 never throws here; replace
    // rather than throw should a hand-built value slip through.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace quillbridge
