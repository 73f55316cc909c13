#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>

#include "core/Json.hpp"

namespace quillbridge {

// The modifier states in which a key is a dead key: a set of eight states kept as the bits of one byte.
// The bit of a state is 1 shifted left by (1 if Shift) + (2 if Option) + (4 if Caps Lock), so the bit
// order differs from the field order of `KeyLabelSet`: `option` is 0x04 and `caps` 0x10. In JSON the set
// is its raw byte alone, a number from 0 to 255.
struct KeyboardDeadKeyModifiers {
    std::uint8_t rawValue = 0;

    static const KeyboardDeadKeyModifiers normal;
    static const KeyboardDeadKeyModifiers shift;
    static const KeyboardDeadKeyModifiers option;
    static const KeyboardDeadKeyModifiers optionShift;
    static const KeyboardDeadKeyModifiers caps;
    static const KeyboardDeadKeyModifiers capsShift;
    static const KeyboardDeadKeyModifiers optionCaps;
    static const KeyboardDeadKeyModifiers optionCapsShift;

    constexpr KeyboardDeadKeyModifiers() = default;
    // Every byte is a valid set.
    constexpr explicit KeyboardDeadKeyModifiers(std::uint8_t raw) : rawValue(raw) {}
    // The union of the members listed.
    constexpr KeyboardDeadKeyModifiers(std::initializer_list<KeyboardDeadKeyModifiers> members) {
        for (auto member : members)
            rawValue |= member.rawValue;
    }

    // The one state with these modifiers held.
    static constexpr KeyboardDeadKeyModifiers forState(bool shiftHeld, bool optionHeld, bool capsLockOn) {
        int index = (shiftHeld ? 1 : 0) + (optionHeld ? 2 : 0) + (capsLockOn ? 4 : 0);
        return KeyboardDeadKeyModifiers(static_cast<std::uint8_t>(1u << index));
    }

    constexpr bool isEmpty() const { return rawValue == 0; }
    constexpr bool contains(KeyboardDeadKeyModifiers member) const {
        return (rawValue & member.rawValue) == member.rawValue;
    }
    constexpr bool isSubset(KeyboardDeadKeyModifiers other) const {
        return (rawValue & ~other.rawValue) == 0;
    }
    constexpr bool isDisjoint(KeyboardDeadKeyModifiers other) const {
        return (rawValue & other.rawValue) == 0;
    }

    constexpr KeyboardDeadKeyModifiers unionWith(KeyboardDeadKeyModifiers other) const {
        return KeyboardDeadKeyModifiers(static_cast<std::uint8_t>(rawValue | other.rawValue));
    }
    constexpr KeyboardDeadKeyModifiers intersection(KeyboardDeadKeyModifiers other) const {
        return KeyboardDeadKeyModifiers(static_cast<std::uint8_t>(rawValue & other.rawValue));
    }
    constexpr KeyboardDeadKeyModifiers symmetricDifference(KeyboardDeadKeyModifiers other) const {
        return KeyboardDeadKeyModifiers(static_cast<std::uint8_t>(rawValue ^ other.rawValue));
    }
    constexpr KeyboardDeadKeyModifiers subtracting(KeyboardDeadKeyModifiers other) const {
        return KeyboardDeadKeyModifiers(static_cast<std::uint8_t>(rawValue & ~other.rawValue));
    }

    // Adds the member; gives whether anything was added, and the member as it is in the set afterwards.
    constexpr std::pair<bool, KeyboardDeadKeyModifiers> insert(KeyboardDeadKeyModifiers member) {
        KeyboardDeadKeyModifiers present = intersection(member);
        if (present == member)
            return {false, present};
        *this = unionWith(member);
        return {true, member};
    }
    // Removes the member; gives the part of it that was in the set, or nothing when none was.
    constexpr std::optional<KeyboardDeadKeyModifiers> remove(KeyboardDeadKeyModifiers member) {
        KeyboardDeadKeyModifiers present = intersection(member);
        if (present.isEmpty())
            return std::nullopt;
        *this = subtracting(member);
        return present;
    }
    // Adds the member; gives the part of it that was already in the set, or nothing when none was.
    constexpr std::optional<KeyboardDeadKeyModifiers> update(KeyboardDeadKeyModifiers member) {
        KeyboardDeadKeyModifiers present = intersection(member);
        *this = unionWith(member);
        if (present.isEmpty())
            return std::nullopt;
        return present;
    }

    constexpr bool operator==(const KeyboardDeadKeyModifiers&) const = default;
};

inline constexpr KeyboardDeadKeyModifiers KeyboardDeadKeyModifiers::normal(0x01);
inline constexpr KeyboardDeadKeyModifiers KeyboardDeadKeyModifiers::shift(0x02);
inline constexpr KeyboardDeadKeyModifiers KeyboardDeadKeyModifiers::option(0x04);
inline constexpr KeyboardDeadKeyModifiers KeyboardDeadKeyModifiers::optionShift(0x08);
inline constexpr KeyboardDeadKeyModifiers KeyboardDeadKeyModifiers::caps(0x10);
inline constexpr KeyboardDeadKeyModifiers KeyboardDeadKeyModifiers::capsShift(0x20);
inline constexpr KeyboardDeadKeyModifiers KeyboardDeadKeyModifiers::optionCaps(0x40);
inline constexpr KeyboardDeadKeyModifiers KeyboardDeadKeyModifiers::optionCapsShift(0x80);

template <>
struct JsonCoder<KeyboardDeadKeyModifiers> {
    static JsonResult<Json> encode(KeyboardDeadKeyModifiers value) { return toJson(value.rawValue); }
    static JsonResult<KeyboardDeadKeyModifiers> decode(const Json& json) {
        auto raw = fromJson<std::uint8_t>(json);
        if (!raw)
            return std::unexpected(raw.error());
        return KeyboardDeadKeyModifiers(*raw);
    }
};

}  // namespace quillbridge
