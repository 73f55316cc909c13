#include "wire/KeyboardSpecialKeyStyle.hpp"

#include <algorithm>
#include <optional>

namespace quillbridge {

namespace {

bool isAsciiLetter(char character) {
    return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z');
}

// The language code of a locale identifier, lower-cased: its first subtag, which ends at the first
// separator ("-" or "_"), keyword ("@") or charset (".") mark. A language subtag is 2 to 3 or 5 to 8
// letters; anything else means the identifier names no language.
std::optional<std::string> languageCode(std::string_view identifier) {
    auto end = identifier.find_first_of("-_@.");
    std::string_view subtag = identifier.substr(0, end);
    bool lettersOnly = std::all_of(subtag.begin(), subtag.end(), isAsciiLetter);
    bool validLength =
        (subtag.size() >= 2 && subtag.size() <= 3) || (subtag.size() >= 5 && subtag.size() <= 8);
    if (!lettersOnly || !validLength)
        return std::nullopt;
    std::string code(subtag);
    std::transform(code.begin(), code.end(), code.begin(),
                   [](char character) { return static_cast<char>(character | 0x20); });
    return code;
}

std::optional<KeyboardSpecialKeyStyle> styleOfLanguage(std::string_view code) {
    if (code == "ar" || code == "he")
        return KeyboardSpecialKeyStyle::rightToLeft;
    if (code == "zh")
        return KeyboardSpecialKeyStyle::chineseLanguageSwitch;
    if (code == "ja")
        return KeyboardSpecialKeyStyle::japaneseLanguageSwitch;
    if (code == "ko")
        return KeyboardSpecialKeyStyle::koreanLanguageSwitch;
    return std::nullopt;
}

}  // namespace

KeyboardSpecialKeyStyle keyboardSpecialKeyStyle(std::span<const std::string> languageIdentifiers) {
    for (const auto& identifier : languageIdentifiers) {
        auto code = languageCode(identifier);
        if (!code)
            continue;
        if (auto style = styleOfLanguage(*code))
            return *style;
    }
    return KeyboardSpecialKeyStyle::standard;
}

}  // namespace quillbridge
