#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// The special-key treatment that a keyboard input source calls for, decided from its languages.
enum class KeyboardSpecialKeyStyle {
    standard,
    rightToLeft,
    chineseLanguageSwitch,
    japaneseLanguageSwitch,
    koreanLanguageSwitch,
};

template <>
struct JsonEnumCases<KeyboardSpecialKeyStyle> {
    using enum KeyboardSpecialKeyStyle;
    static constexpr std::array cases{
        rawCase(standard, "standard"),
        rawCase(rightToLeft, "rightToLeft"),
        rawCase(chineseLanguageSwitch, "chineseLanguageSwitch"),
        rawCase(japaneseLanguageSwitch, "japaneseLanguageSwitch"),
        rawCase(koreanLanguageSwitch, "koreanLanguageSwitch"),
    };
};
static_assert(isWellFormedRawValueTable<KeyboardSpecialKeyStyle>());

// The style of an input source from its language identifiers, in the system's order. Each identifier is
// read as a locale identifier ("ja-JP", "zh_Hant_TW", "he", "ar-EG@numbers=latn") and only its language
// code counts, lower-cased: "ar" and "he" give `rightToLeft`, "zh" `chineseLanguageSwitch`, "ja"
// `japaneseLanguageSwitch`, "ko" `koreanLanguageSwitch`. The first identifier that matches decides;
// with none, or no identifiers at all, the style is `standard`.
KeyboardSpecialKeyStyle keyboardSpecialKeyStyle(std::span<const std::string> languageIdentifiers);

}  // namespace quillbridge
