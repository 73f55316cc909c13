#include "platform/linux/x11/X11KeyCodes.hpp"

#include <array>
#include <cstddef>

namespace quillbridge {

namespace {

// Linux input event codes of the keys, in the order of the key enumeration; 0 for a key without one.
// The headset's command keys are the Control keys here and option is the left Alt key.
constexpr std::array<std::uint16_t, 116> evdevCodes{
    30,   // a
    48,   // b
    46,   // c
    32,   // d
    18,   // e
    33,   // f
    34,   // g
    35,   // h
    23,   // i
    36,   // j
    37,   // k
    38,   // l
    50,   // m
    49,   // n
    24,   // o
    25,   // p
    16,   // q
    19,   // r
    31,   // s
    20,   // t
    22,   // u
    47,   // v
    17,   // w
    45,   // x
    21,   // y
    44,   // z
    2,    // one
    3,    // two
    4,    // three
    5,    // four
    6,    // five
    7,    // six
    8,    // seven
    9,    // eight
    10,   // nine
    11,   // zero
    12,   // minus
    13,   // equal
    41,   // grave
    26,   // leftBracket
    27,   // rightBracket
    43,   // backslash
    39,   // semicolon
    40,   // quote
    51,   // comma
    52,   // period
    53,   // slash
    57,   // space
    15,   // tab
    1,    // escape
    14,   // delete
    111,  // forwardDelete
    28,   // returnKey
    102,  // home
    107,  // end
    104,  // pageUp
    109,  // pageDown
    59,   // f1
    60,   // f2
    61,   // f3
    62,   // f4
    63,   // f5
    64,   // f6
    65,   // f7
    66,   // f8
    67,   // f9
    68,   // f10
    87,   // f11
    88,   // f12
    183,  // f13
    184,  // f14
    185,  // f15
    186,  // f16
    187,  // f17
    188,  // f18
    189,  // f19
    190,  // f20
    58,   // capsLock
    42,   // shift
    54,   // rightShift
    29,   // control
    97,   // rightControl
    56,   // option
    100,  // rightOption
    29,   // command
    97,   // rightCommand
    0,    // fn
    103,  // upArrow
    108,  // downArrow
    105,  // leftArrow
    106,  // rightArrow
    127,  // contextMenu
    82,   // numpadZero
    79,   // numpadOne
    80,   // numpadTwo
    81,   // numpadThree
    75,   // numpadFour
    76,   // numpadFive
    77,   // numpadSix
    71,   // numpadSeven
    72,   // numpadEight
    73,   // numpadNine
    69,   // numpadClear
    83,   // numpadDecimal
    96,   // numpadEnter
    78,   // numpadPlus
    74,   // numpadMinus
    55,   // numpadMultiply
    98,   // numpadDivide
    117,  // numpadEquals
    86,   // isoSection
    124,  // jisYen
    89,   // jisUnderscore
    121,  // jisNumpadComma
    123,  // jisEisu
    122,  // jisKana
};

}  // namespace

std::optional<std::uint32_t> evdevKeyCode(RemoteKeyboardKey key) {
    std::uint16_t code = evdevCodes.at(static_cast<std::size_t>(key));
    if (code == 0)
        return std::nullopt;
    return code;
}

std::optional<std::uint32_t> x11KeyCode(RemoteKeyboardKey key) {
    std::optional<std::uint32_t> code = evdevKeyCode(key);
    if (!code)
        return std::nullopt;
    return *code + 8;
}

}  // namespace quillbridge
