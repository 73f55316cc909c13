#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "core/Bytes.hpp"
#include "core/Date.hpp"

namespace quillbridge {

// One value of a property list, as the readers in PropertyListReader.hpp produce it. Dictionaries keep
// their entries in the order read, each key at most once; all keys are strings.
struct PropertyListValue {
    using Array = std::vector<PropertyListValue>;
    using Dictionary = std::vector<std::pair<std::string, PropertyListValue>>;
    // A keyed-archiver object reference, as binary property lists may hold.
    struct Uid {
        std::uint64_t value = 0;
        bool operator==(const Uid&) const = default;
    };

    // Integers too large for std::int64_t are kept as std::uint64_t.
    using Storage = std::variant<std::string, bool, std::int64_t, std::uint64_t, double, Bytes, Date, Array,
                                 Dictionary, Uid>;
    Storage storage;

    PropertyListValue();
    template <typename T>
    requires(!std::is_same_v<std::remove_cvref_t<T>, PropertyListValue> &&
             std::is_constructible_v<Storage, T>) PropertyListValue(T&& value)
        : storage(std::forward<T>(value)) {}
    // Defined where the element types are complete, as the recursive storage needs.
    PropertyListValue(const PropertyListValue& other);
    PropertyListValue(PropertyListValue&& other) noexcept;
    PropertyListValue& operator=(const PropertyListValue& other);
    PropertyListValue& operator=(PropertyListValue&& other) noexcept;
    ~PropertyListValue();

    bool isDictionary() const { return std::holds_alternative<Dictionary>(storage); }
};

// The canonical text of a property-list value, the same for equal content whatever the serialised form or
// the order of dictionary keys:
//   string "s:" + its characters; number "n:" + decimal (booleans 1 and 0, reals in their shortest form);
//   data "d:" + standard Base64; date "t:" + seconds since 2001-01-01 in shortest form ("0.0", "1.5");
//   array "[" + elements joined by "," + "]"; dictionary "{" + key "=" value entries joined by "," + "}",
//   ordered by key in code-point order of the keys' canonical decomposition; uid "uid:" + decimal.
// Nothing is quoted or escaped. Texts serve only for comparison; compare them by canonical equivalence.
std::string canonicalPropertyListDescription(const PropertyListValue& value);

}  // namespace quillbridge
