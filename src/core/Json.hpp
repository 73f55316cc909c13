#pragma once

// The strict JSON layer every message codec and stored record goes through.
//
// A record type lists its fields once, as pairs of JSON key and member pointer, in a JsonFields
// specialisation; the generic encoder, decoder and equality below work from that list:
//
//     struct PairedPeerRecord { Uuid id; std::string name; std::optional<Date> lastSeenAt; };
//     template <> struct JsonFields<PairedPeerRecord> {
//         static auto fields() {
//             return std::tuple{jsonField("id", &PairedPeerRecord::id),
//                               jsonField("name", &PairedPeerRecord::name),
//                               jsonField("lastSeenAt", &PairedPeerRecord::lastSeenAt)};
//         }
//     };
//
// The rules (parseJson below lists what it refuses in the text itself, duplicate member names among it):
// - Output is compact; keys are written in the order of the field list; readers take keys in any order
//   and ignore keys they do not know.
// - A `std::optional` member is left out when absent and read as absent when missing or null.
// - A member given a default with jsonField(key, member, defaultValue) reads the default when missing
//   or null; every other member is required: missing gives keyNotFound, null gives valueNotFound.
// - Integers are read exactly from their decimal text over their full width (nanosecond counts exceed
//   2^53), never through a double, and range-checked: -9223372036854775809 and 18446744073709551616 are
//   refused, not rounded into range. A number written with a fraction or an exponent is accepted when
//   its value is exactly an integer that a double also holds exactly (60.0, 3e0, 1.5e1); 1.5 and
//   9.007199254740993e15 are refused. A value built in memory as a double is never read as an integer.
//   Booleans only from true and false.
// - Floating-point values that are NaN or infinite refuse to encode.
// - Strings must be valid UTF-8 both ways.
// - Byte buffers are standard Base64 with padding; `Uuid` is its 36-character text, written upper-case
//   and read in either case; `Date` is a number of seconds since 2001-01-01 00:00:00 UTC.
// - Enumerations list their raw values in a JsonEnumCases specialisation (strings or integers).
// - Equality of two records compares field by field, strings by canonical equivalence.
//
// A type with a form of its own (a tagged union, say) specialises JsonCoder<T> with
//   static JsonResult<Json> encode(const T&);   static JsonResult<T> decode(const Json&);

#include <array>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <expected>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/Base64.hpp"
#include "core/Bytes.hpp"
#include "core/Date.hpp"
#include "core/UnicodeText.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

using Json = nlohmann::ordered_json;

enum class JsonErrorKind {
    typeMismatch,   // a value of the wrong JSON type
    keyNotFound,    // a required member is missing
    valueNotFound,  // a required member is null
    dataCorrupted,  // a value of the right type that is not valid (bad Base64, out of range, not JSON)
    invalidValue,   // a value that cannot be encoded (NaN, infinity, invalid UTF-8)
};

struct JsonError {
    JsonErrorKind kind = JsonErrorKind::dataCorrupted;
    // The members leading to the faulty value, joined by dots (empty at the top level).
    std::string codingPath;
    std::string description;

    bool operator==(const JsonError&) const = default;
};

std::string_view jsonErrorKindName(JsonErrorKind kind);
// "keyNotFound at hello._0.peerID: No value associated with key peerID."
std::string describe(const JsonError& error);

template <typename T>
using JsonResult = std::expected<T, JsonError>;

// A JSON failure thrown, for the few callers whose control flow needs an exception (the control
// stream's framing, which also passes the transport's errors on as exceptions).
class JsonCodingError : public std::runtime_error {
public:
    explicit JsonCodingError(JsonError error);
    const JsonError& error() const { return error_; }

private:
    JsonError error_;
};

inline std::unexpected<JsonError> jsonFailure(JsonErrorKind kind, std::string description) {
    return std::unexpected(JsonError{kind, {}, std::move(description)});
}

// Puts `key` in front of the coding path of an error coming up from a nested value.
inline std::unexpected<JsonError> jsonFailureAt(std::string_view key, JsonError error) {
    error.codingPath =
        error.codingPath.empty() ? std::string(key) : std::string(key) + "." + error.codingPath;
    return std::unexpected(std::move(error));
}

// ---- customisation points ------------------------------------------------------------------------

template <typename T>
struct JsonFields;  // specialise with `static auto fields()` returning a tuple of jsonField(...)

template <typename E>
struct JsonEnumCases;  // specialise with `static constexpr std::array cases` of {E, raw value} pairs

template <typename T, typename = void>
struct JsonCoder;  // specialise for a type with a form of its own

template <typename T>
concept HasJsonFields = requires {
    JsonFields<T>::fields();
};

template <typename E>
concept HasJsonEnumCases = std::is_enum_v<E> && requires {
    JsonEnumCases<E>::cases;
};

// ---- fields ----------------------------------------------------------------------------------------

template <typename Owner, typename Member>
struct JsonField {
    std::string_view key;
    Member Owner::*member;
    std::optional<Member> defaultValue;
};

template <typename Owner, typename Member>
JsonField<Owner, Member> jsonField(std::string_view key, Member Owner::*member) {
    return {key, member, std::nullopt};
}

template <typename Owner, typename Member, typename Default>
JsonField<Owner, Member> jsonField(std::string_view key, Member Owner::*member, Default defaultValue) {
    return {key, member, Member(std::move(defaultValue))};
}

namespace detail {
template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};
template <typename T>
struct IsVector : std::false_type {};
template <typename T>
struct IsVector<std::vector<T>> : std::true_type {};
template <typename T>
struct IsStringMap : std::false_type {};
template <typename T>
struct IsStringMap<std::map<std::string, T>> : std::true_type {};

template <typename T>
inline constexpr bool isPlainInteger =
    std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>;

JsonResult<std::int64_t> readSignedInteger(const Json& json, std::int64_t minimum, std::int64_t maximum);
JsonResult<std::uint64_t> readUnsignedInteger(const Json& json, std::uint64_t maximum);
JsonResult<double> readNumber(const Json& json);
JsonResult<std::string> readString(const Json& json);
JsonResult<Json> writeNumber(double value);
JsonResult<Json> writeString(std::string_view value);
std::string jsonTypeName(const Json& json);
}  // namespace detail

template <typename T>
JsonResult<Json> toJson(const T& value);
template <typename T>
JsonResult<T> fromJson(const Json& json);

// ---- built-in coders ----------------------------------------------------------------------------

template <>
struct JsonCoder<bool> {
    static JsonResult<Json> encode(bool value) { return Json(value); }
    static JsonResult<bool> decode(const Json& json) {
        if (!json.is_boolean()) {
            return jsonFailure(JsonErrorKind::typeMismatch, "Expected to decode Bool but found " +
                                                                detail::jsonTypeName(json) + " instead.");
        }
        return json.get<bool>();
    }
};

template <typename T>
struct JsonCoder<T, std::enable_if_t<detail::isPlainInteger<T>>> {
    static JsonResult<Json> encode(T value) { return Json(value); }
    static JsonResult<T> decode(const Json& json) {
        if constexpr (std::is_signed_v<T>) {
            auto value =
                detail::readSignedInteger(json, std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
            if (!value)
                return std::unexpected(value.error());
            return static_cast<T>(*value);
        } else {
            auto value = detail::readUnsignedInteger(json, std::numeric_limits<T>::max());
            if (!value)
                return std::unexpected(value.error());
            return static_cast<T>(*value);
        }
    }
};

template <typename T>
struct JsonCoder<T, std::enable_if_t<std::is_floating_point_v<T>>> {
    static JsonResult<Json> encode(T value) { return detail::writeNumber(static_cast<double>(value)); }
    static JsonResult<T> decode(const Json& json) {
        auto value = detail::readNumber(json);
        if (!value)
            return std::unexpected(value.error());
        if constexpr (std::is_same_v<T, float>) {
            if (std::fabs(*value) > std::numeric_limits<float>::max()) {
                return jsonFailure(JsonErrorKind::dataCorrupted, "Number does not fit in Float.");
            }
        }
        return static_cast<T>(*value);
    }
};

template <>
struct JsonCoder<std::string> {
    static JsonResult<Json> encode(const std::string& value) { return detail::writeString(value); }
    static JsonResult<std::string> decode(const Json& json) { return detail::readString(json); }
};

template <>
struct JsonCoder<Bytes> {
    static JsonResult<Json> encode(const Bytes& value) { return Json(encodeBase64(value)); }
    static JsonResult<Bytes> decode(const Json& json);
};

template <>
struct JsonCoder<Uuid> {
    static JsonResult<Json> encode(const Uuid& value) { return Json(value.string()); }
    static JsonResult<Uuid> decode(const Json& json);
};

template <>
struct JsonCoder<Date> {
    static JsonResult<Json> encode(const Date& value) {
        return detail::writeNumber(value.secondsSinceReferenceDate);
    }
    static JsonResult<Date> decode(const Json& json) {
        auto seconds = detail::readNumber(json);
        if (!seconds)
            return std::unexpected(seconds.error());
        return Date{*seconds};
    }
};

// An arbitrary JSON value kept as it is.
template <>
struct JsonCoder<Json> {
    static JsonResult<Json> encode(const Json& value) { return value; }
    static JsonResult<Json> decode(const Json& json) { return json; }
};

template <typename T>
struct JsonCoder<std::vector<T>, std::enable_if_t<!std::is_same_v<T, std::uint8_t>>> {
    static JsonResult<Json> encode(const std::vector<T>& values) {
        Json array = Json::array();
        for (const auto& value : values) {
            auto element = toJson(value);
            if (!element)
                return jsonFailureAt("Index " + std::to_string(array.size()), element.error());
            array.push_back(std::move(*element));
        }
        return array;
    }
    static JsonResult<std::vector<T>> decode(const Json& json) {
        if (!json.is_array()) {
            return jsonFailure(JsonErrorKind::typeMismatch, "Expected to decode Array but found " +
                                                                detail::jsonTypeName(json) + " instead.");
        }
        std::vector<T> values;
        values.reserve(json.size());
        for (std::size_t index = 0; index < json.size(); ++index) {
            auto element = fromJson<T>(json[index]);
            if (!element)
                return jsonFailureAt("Index " + std::to_string(index), element.error());
            values.push_back(std::move(*element));
        }
        return values;
    }
};

template <typename T>
struct JsonCoder<std::map<std::string, T>> {
    static JsonResult<Json> encode(const std::map<std::string, T>& values) {
        Json object = Json::object();
        for (const auto& [key, value] : values) {
            if (!isValidUtf8(key))
                return jsonFailure(JsonErrorKind::invalidValue, "Key is not valid UTF-8.");
            auto element = toJson(value);
            if (!element)
                return jsonFailureAt(key, element.error());
            object[key] = std::move(*element);
        }
        return object;
    }
    static JsonResult<std::map<std::string, T>> decode(const Json& json) {
        if (!json.is_object()) {
            return jsonFailure(JsonErrorKind::typeMismatch, "Expected to decode Dictionary but found " +
                                                                detail::jsonTypeName(json) + " instead.");
        }
        std::map<std::string, T> values;
        for (const auto& [key, item] : json.items()) {
            auto element = fromJson<T>(item);
            if (!element)
                return jsonFailureAt(key, element.error());
            values.emplace(key, std::move(*element));
        }
        return values;
    }
};

template <typename E>
requires HasJsonEnumCases<E>
struct JsonCoder<E> {
    using Raw = typename std::remove_cvref_t<decltype(JsonEnumCases<E>::cases[0].second)>;

    static JsonResult<Json> encode(E value) {
        for (const auto& [item, raw] : JsonEnumCases<E>::cases) {
            if (item == value)
                return Json(raw);
        }
        return jsonFailure(JsonErrorKind::invalidValue, "Value is not a case of the enumeration.");
    }
    static JsonResult<E> decode(const Json& json) {
        if constexpr (std::is_same_v<Raw, std::string_view>) {
            auto raw = detail::readString(json);
            if (!raw)
                return std::unexpected(raw.error());
            for (const auto& [item, name] : JsonEnumCases<E>::cases) {
                if (name == *raw)
                    return item;
            }
            return jsonFailure(JsonErrorKind::dataCorrupted,
                               "Cannot initialize enumeration from invalid String value " + *raw);
        } else {
            auto raw = fromJson<Raw>(json);
            if (!raw)
                return std::unexpected(raw.error());
            for (const auto& [item, number] : JsonEnumCases<E>::cases) {
                if (number == *raw)
                    return item;
            }
            return jsonFailure(JsonErrorKind::dataCorrupted,
                               "Cannot initialize enumeration from invalid value " + std::to_string(*raw));
        }
    }
};

// Looks up an enumeration's raw string value (for logs and texts built from raw values).
template <typename E>
requires HasJsonEnumCases<E>
constexpr auto jsonRawValue(E value) {
    for (const auto& [item, raw] : JsonEnumCases<E>::cases) {
        if (item == value)
            return raw;
    }
    return decltype(JsonEnumCases<E>::cases[0].second){};
}

template <typename T>
requires HasJsonFields<T>
struct JsonCoder<T> {
    static JsonResult<Json> encode(const T& value) {
        Json object = Json::object();
        std::optional<JsonError> failure;
        std::apply(
            [&](const auto&... field) {
                ((failure ? void() : encodeField(object, value, field, failure)), ...);
            },
            JsonFields<T>::fields());
        if (failure)
            return std::unexpected(*failure);
        return object;
    }

    static JsonResult<T> decode(const Json& json) {
        if (!json.is_object()) {
            return jsonFailure(JsonErrorKind::typeMismatch, "Expected to decode Dictionary but found " +
                                                                detail::jsonTypeName(json) + " instead.");
        }
        T value{};
        std::optional<JsonError> failure;
        std::apply(
            [&](const auto&... field) {
                ((failure ? void() : decodeField(json, value, field, failure)), ...);
            },
            JsonFields<T>::fields());
        if (failure)
            return std::unexpected(*failure);
        return value;
    }

private:
    template <typename Member>
    static void encodeField(Json& object, const T& value, const JsonField<T, Member>& field,
                            std::optional<JsonError>& failure) {
        const Member& member = value.*(field.member);
        if constexpr (detail::IsOptional<Member>::value) {
            if (!member)
                return;
            auto encoded = toJson(*member);
            if (!encoded)
                return void(failure = jsonFailureAt(field.key, encoded.error()).error());
            object[std::string(field.key)] = std::move(*encoded);
        } else {
            auto encoded = toJson(member);
            if (!encoded)
                return void(failure = jsonFailureAt(field.key, encoded.error()).error());
            object[std::string(field.key)] = std::move(*encoded);
        }
    }

    template <typename Member>
    static void decodeField(const Json& object, T& value, const JsonField<T, Member>& field,
                            std::optional<JsonError>& failure) {
        auto found = object.find(field.key);
        bool missing = found == object.end();
        if (missing || found->is_null()) {
            if constexpr (detail::IsOptional<Member>::value) {
                value.*(field.member) = std::nullopt;
                return;
            } else {
                if (field.defaultValue) {
                    value.*(field.member) = *field.defaultValue;
                    return;
                }
                std::string key(field.key);
                failure = missing ? JsonError{JsonErrorKind::keyNotFound, key,
                                              "No value associated with key " + key + "."}
                                  : JsonError{JsonErrorKind::valueNotFound, key,
                                              "Expected value but found null instead."};
                return;
            }
        }
        if constexpr (detail::IsOptional<Member>::value) {
            auto decoded = fromJson<typename Member::value_type>(*found);
            if (!decoded)
                return void(failure = jsonFailureAt(field.key, decoded.error()).error());
            value.*(field.member) = std::move(*decoded);
        } else {
            auto decoded = fromJson<Member>(*found);
            if (!decoded)
                return void(failure = jsonFailureAt(field.key, decoded.error()).error());
            value.*(field.member) = std::move(*decoded);
        }
    }
};

// ---- entry points ----------------------------------------------------------------------------------

template <typename T>
JsonResult<Json> toJson(const T& value) {
    return JsonCoder<T>::encode(value);
}

template <typename T>
JsonResult<T> fromJson(const Json& json) {
    return JsonCoder<T>::decode(json);
}

// Parses JSON text strictly and refuses, with a dataCorrupted error:
// - text that is not valid UTF-8, or has content after the value;
// - text containing a raw NUL byte anywhere (escaped as \u0000 inside a string it is fine);
// - nesting deeper than `maximumJsonDepth`;
// - an object with two members of the same name, at any level (the error's coding path names the
//   repeated member). Our peers never write duplicates, and readers that resolve them differently are
//   a known way to slip a message past one of them, so none is resolved here either.
inline constexpr std::size_t maximumJsonDepth = 64;
JsonResult<Json> parseJson(std::string_view text);
// Compact text of a JSON value.
std::string serializeJson(const Json& json);

template <typename T>
JsonResult<std::string> encodeJson(const T& value) {
    auto json = toJson(value);
    if (!json)
        return std::unexpected(json.error());
    return serializeJson(*json);
}

template <typename T>
JsonResult<T> decodeJson(std::string_view text) {
    auto json = parseJson(text);
    if (!json)
        return std::unexpected(json.error());
    return fromJson<T>(*json);
}

// ---- equality ------------------------------------------------------------------------------------

template <typename T>
bool jsonValueEqual(const T& left, const T& right);

template <typename T>
requires HasJsonFields<T>
bool jsonFieldsEqual(const T& left, const T& right) {
    return std::apply(
        [&](const auto&... field) {
            return (jsonValueEqual(left.*(field.member), right.*(field.member)) && ...);
        },
        JsonFields<T>::fields());
}

template <typename T>
bool jsonValueEqual(const T& left, const T& right) {
    if constexpr (std::is_same_v<T, std::string>) {
        return canonicallyEquivalent(left, right);
    } else if constexpr (detail::IsOptional<T>::value) {
        if (left.has_value() != right.has_value())
            return false;
        return !left || jsonValueEqual(*left, *right);
    } else if constexpr (detail::IsVector<T>::value && !std::is_same_v<T, Bytes>) {
        if (left.size() != right.size())
            return false;
        for (std::size_t index = 0; index < left.size(); ++index) {
            if (!jsonValueEqual(left[index], right[index]))
                return false;
        }
        return true;
    } else if constexpr (detail::IsStringMap<T>::value) {
        if (left.size() != right.size())
            return false;
        for (auto l = left.begin(), r = right.begin(); l != left.end(); ++l, ++r) {
            if (!canonicallyEquivalent(l->first, r->first) || !jsonValueEqual(l->second, r->second))
                return false;
        }
        return true;
    } else {
        return left == right;
    }
}

// Every record with a field list compares field by field, unless it defines an equality of its own.
template <typename T>
requires HasJsonFields<T>
bool operator==(const T& left, const T& right) {
    return jsonFieldsEqual(left, right);
}

}  // namespace quillbridge
