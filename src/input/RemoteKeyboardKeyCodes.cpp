#include "input/RemoteKeyboardKeyCodes.hpp"

#include <array>
#include <cstddef>

namespace quillbridge {

namespace {

// Virtual key codes in the order of the key enumeration.
constexpr std::array<std::uint16_t, 116> virtualKeyCodes{
    0,    // a
    11,   // b
    8,    // c
    2,    // d
    14,   // e
    3,    // f
    5,    // g
    4,    // h
    34,   // i
    38,   // j
    40,   // k
    37,   // l
    46,   // m
    45,   // n
    31,   // o
    35,   // p
    12,   // q
    15,   // r
    1,    // s
    17,   // t
    32,   // u
    9,    // v
    13,   // w
    7,    // x
    16,   // y
    6,    // z
    18,   // one
    19,   // two
    20,   // three
    21,   // four
    23,   // five
    22,   // six
    26,   // seven
    28,   // eight
    25,   // nine
    29,   // zero
    27,   // minus
    24,   // equal
    50,   // grave
    33,   // leftBracket
    30,   // rightBracket
    42,   // backslash
    41,   // semicolon
    39,   // quote
    43,   // comma
    47,   // period
    44,   // slash
    49,   // space
    48,   // tab
    53,   // escape
    51,   // delete
    117,  // forwardDelete
    36,   // returnKey
    115,  // home
    119,  // end
    116,  // pageUp
    121,  // pageDown
    122,  // f1
    120,  // f2
    99,   // f3
    118,  // f4
    96,   // f5
    97,   // f6
    98,   // f7
    100,  // f8
    101,  // f9
    109,  // f10
    103,  // f11
    111,  // f12
    105,  // f13
    107,  // f14
    113,  // f15
    106,  // f16
    64,   // f17
    79,   // f18
    80,   // f19
    90,   // f20
    57,   // capsLock
    56,   // shift
    60,   // rightShift
    59,   // control
    62,   // rightControl
    58,   // option
    61,   // rightOption
    55,   // command
    54,   // rightCommand
    63,   // fn
    126,  // upArrow
    125,  // downArrow
    123,  // leftArrow
    124,  // rightArrow
    110,  // contextMenu
    82,   // numpadZero
    83,   // numpadOne
    84,   // numpadTwo
    85,   // numpadThree
    86,   // numpadFour
    87,   // numpadFive
    88,   // numpadSix
    89,   // numpadSeven
    91,   // numpadEight
    92,   // numpadNine
    71,   // numpadClear
    65,   // numpadDecimal
    76,   // numpadEnter
    69,   // numpadPlus
    78,   // numpadMinus
    67,   // numpadMultiply
    75,   // numpadDivide
    81,   // numpadEquals
    10,   // isoSection
    93,   // jisYen
    94,   // jisUnderscore
    95,   // jisNumpadComma
    102,  // jisEisu
    104,  // jisKana
};

bool isBetween(RemoteKeyboardKey key, RemoteKeyboardKey first, RemoteKeyboardKey last) {
    return static_cast<int>(key) >= static_cast<int>(first) &&
           static_cast<int>(key) <= static_cast<int>(last);
}

}  // namespace

std::uint16_t virtualKeyCode(RemoteKeyboardKey key) {
    return virtualKeyCodes.at(static_cast<std::size_t>(key));
}

bool isModifierKey(RemoteKeyboardKey key) {
    return isBetween(key, RemoteKeyboardKey::shift, RemoteKeyboardKey::fn);
}

std::uint64_t modifierFlag(RemoteKeyboardKey key) {
    using enum RemoteKeyboardKey;
    switch (key) {
        case shift:
        case rightShift:
            return keyboardFlagShift;
        case control:
        case rightControl:
            return keyboardFlagControl;
        case option:
        case rightOption:
            return keyboardFlagAlternate;
        case command:
        case rightCommand:
            return keyboardFlagCommand;
        case fn:
            return keyboardFlagSecondaryFn;
        default:
            return 0;
    }
}

bool isRepeatableKey(RemoteKeyboardKey key) {
    using enum RemoteKeyboardKey;
    if (isBetween(key, a, tab))
        return true;
    if (isBetween(key, delete_, pageDown))
        return true;
    if (isBetween(key, upArrow, rightArrow))
        return true;
    if (isBetween(key, numpadZero, numpadNine))
        return true;
    if (isBetween(key, numpadDecimal, jisNumpadComma))
        return true;
    return false;
}

std::uint32_t keyboardTypeFor(KeyboardTypePreference preference, std::uint32_t hardwareKeyboardType) {
    switch (preference) {
        case KeyboardTypePreference::automatic:
            return hardwareKeyboardType != 0 ? hardwareKeyboardType : 1;
        case KeyboardTypePreference::ansi:
            return 1;
        case KeyboardTypePreference::iso:
            return 4;
        case KeyboardTypePreference::jis:
            return 18;
    }
    return 1;
}

}  // namespace quillbridge
