#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "core/Json.hpp"
#include "support/JsonTestHelpers.hpp"
#include "wire/HandSpecificAction.hpp"
#include "wire/KeyLabelSet.hpp"
#include "wire/KeyboardDeadKeyModifiers.hpp"
#include "wire/KeyboardEventMessage.hpp"
#include "wire/KeyboardEventPhase.hpp"
#include "wire/KeyboardLayoutKeyLabel.hpp"
#include "wire/KeyboardLayoutSnapshot.hpp"
#include "wire/KeyboardLockStateMessage.hpp"
#include "wire/KeyboardSpecialKeyStyle.hpp"
#include "wire/KeyboardTypePreference.hpp"
#include "wire/KeyboardTypePreferenceMessage.hpp"
#include "wire/MouseButton.hpp"
#include "wire/MouseButtonPhase.hpp"
#include "wire/MouseClickMessage.hpp"
#include "wire/MouseMoveMessage.hpp"
#include "wire/MousePositionMessage.hpp"
#include "wire/MouseScrollMessage.hpp"
#include "wire/MouseScrollMomentumPhase.hpp"
#include "wire/MouseScrollPhase.hpp"
#include "wire/RawValueEnumeration.hpp"
#include "wire/RemoteKeyboardKey.hpp"
#include "wire/RemoteKeyboardPhysicalLayout.hpp"
#include "wire/RemoteSystemAction.hpp"
#include "wire/SystemActionMessage.hpp"
#include "wire/TextInputMessage.hpp"

namespace quillbridge {
namespace {

// Checks a whole raw-value table: case N sits at position N, has the expected raw value, and round-trips
// through the raw-value lookup and through JSON as a bare string.
template <typename E>
void expectRawValues(const std::vector<std::string_view>& expected) {
    auto cases = allEnumCases<E>();
    ASSERT_EQ(cases.size(), expected.size());
    for (std::size_t position = 0; position < expected.size(); ++position) {
        SCOPED_TRACE(std::string(expected[position]));
        E value = cases[position];
        EXPECT_EQ(static_cast<std::size_t>(value), position);
        EXPECT_EQ(rawValue(value), expected[position]);
        EXPECT_EQ(enumFromRawValue<E>(expected[position]), value);
        auto encoded = encodeJson(value);
        ASSERT_TRUE(encoded.has_value());
        EXPECT_EQ(*encoded, "\"" + std::string(expected[position]) + "\"");
        EXPECT_EQ(decodeJson<E>(*encoded), value);
    }
}

template <typename E>
void expectRefused(const std::vector<std::string_view>& unknown) {
    for (auto raw : unknown) {
        SCOPED_TRACE("\"" + std::string(raw) + "\"");
        EXPECT_EQ(enumFromRawValue<E>(raw), std::nullopt);
        EXPECT_EQ(decodeErrorKind<E>(serializeJson(Json(std::string(raw)))), JsonErrorKind::dataCorrupted);
    }
    // A case's position is not its JSON form.
    EXPECT_EQ(decodeErrorKind<E>("0"), JsonErrorKind::typeMismatch);
}

KeyLabelSet letterALabels() {
    KeyLabelSet labels;
    labels.normal = "a";
    labels.shift = "A";
    labels.caps = "A";
    labels.capsShift = "A";
    labels.option = "å";
    labels.optionShift = "Å";
    labels.optionCaps = "Å";
    labels.optionCapsShift = "Å";
    labels.deadKeyModifiers = KeyboardDeadKeyModifiers{};
    return labels;
}

TEST(InputMessagesTests, EveryPayloadRoundTripsThroughItsExactJsonText) {
    expectExactRoundTrip(MouseClickMessage{MouseButton::secondary, MouseButtonPhase::pressed},
                         R"({"button":"secondary","phase":"pressed"})");
    expectExactRoundTrip(MouseMoveMessage{-3.5, 12.25}, R"({"deltaX":-3.5,"deltaY":12.25})");
    expectExactRoundTrip(MouseScrollMessage{0.5, -42.75, MouseScrollPhase::ended,
                                            MouseScrollMomentumPhase::none, 120.5, -1800.25},
                         R"({"deltaX":0.5,"deltaY":-42.75,"phase":"ended","momentumPhase":"none",)"
                         R"("momentumVelocityX":120.5,"momentumVelocityY":-1800.25})");
    // Without velocities neither key is written.
    expectExactRoundTrip(MouseScrollMessage{1.5, 2.5, MouseScrollPhase::mayBegin,
                                            MouseScrollMomentumPhase::continuous, std::nullopt, std::nullopt},
                         R"({"deltaX":1.5,"deltaY":2.5,"phase":"mayBegin","momentumPhase":"continuous"})");
    // Out-of-range positions travel unchanged; the receiver clamps them.
    expectExactRoundTrip(MousePositionMessage{-0.5, 1.5}, R"({"normalizedX":-0.5,"normalizedY":1.5})");
    expectExactRoundTrip(KeyboardEventMessage{RemoteKeyboardKey::returnKey, KeyboardEventPhase::released},
                         R"({"key":"returnKey","phase":"released"})");
    expectExactRoundTrip(KeyboardEventMessage{RemoteKeyboardKey::delete_, KeyboardEventPhase::pressed},
                         R"({"key":"delete","phase":"pressed"})");
    expectExactRoundTrip(KeyboardTypePreferenceMessage{KeyboardTypePreference::jis},
                         R"({"preference":"jis"})");
    expectExactRoundTrip(TextInputMessage{"Grüße, 世界 👋\n\"q\""}, R"({"text":"Grüße, 世界 👋\n\"q\""})");
    expectExactRoundTrip(SystemActionMessage{RemoteSystemAction::pasteToMac}, R"({"action":"pasteToMac"})");
    expectExactRoundTrip(KeyboardLockStateMessage{true, std::nullopt}, R"({"capsLock":true})");
    expectExactRoundTrip(KeyboardLockStateMessage{false, true},
                         R"({"capsLock":false,"languageSwitchIsLatin":true})");
    // No label and dead in no state: only the two dead-key fields remain.
    KeyLabelSet noLabels;
    noLabels.deadKeyModifiers = KeyboardDeadKeyModifiers{};
    expectExactRoundTrip(noLabels, R"({"isDeadKey":false,"deadKeyModifiers":0})");

    KeyLabelSet acute;
    acute.normal = "´";
    acute.shift = "`";
    acute.isDeadKey = true;
    acute.deadKeyModifiers =
        KeyboardDeadKeyModifiers{KeyboardDeadKeyModifiers::normal, KeyboardDeadKeyModifiers::shift};
    KeyboardLayoutSnapshot german{
        "com.apple.keylayout.German",
        "German",
        {"de"},
        KeyboardSpecialKeyStyle::standard,
        43,
        RemoteKeyboardPhysicalLayout::iso,
        4,
        KeyboardTypePreference::iso,
        {{RemoteKeyboardKey::a, letterALabels()}, {RemoteKeyboardKey::equal, acute}}};
    expectExactRoundTrip(
        german,
        R"({"inputSourceID":"com.apple.keylayout.German","localizedName":"German","languages":["de"],)"
        R"("specialKeyStyle":"standard","macKeyboardType":43,"macPhysicalLayout":"iso","effectiveKeyboardType":4,)"
        R"("effectivePreference":"iso","labels":[{"key":"a","labels":{"normal":"a","shift":"A","caps":"A",)"
        R"("capsShift":"A","option":"å","optionShift":"Å","optionCaps":"Å","optionCapsShift":"Å","isDeadKey":false,)"
        R"("deadKeyModifiers":0}},{"key":"equal","labels":{"normal":"´","shift":"`","isDeadKey":true,)"
        R"("deadKeyModifiers":3}}]})");
    expectExactRoundTrip(
        KeyboardLayoutSnapshot{"",
                               "",
                               {},
                               std::nullopt,
                               std::nullopt,
                               RemoteKeyboardPhysicalLayout::unknown,
                               1,
                               KeyboardTypePreference::automatic,
                               {}},
        R"({"inputSourceID":"","localizedName":"","languages":[],"macPhysicalLayout":"unknown",)"
        R"("effectiveKeyboardType":1,"effectivePreference":"automatic","labels":[]})");

    expectExactRoundTrip(HandSpecificAction<RemoteSystemAction>{}, "{}");
    expectExactRoundTrip(HandSpecificAction<RemoteSystemAction>{RemoteSystemAction::mediaPlayPause,
                                                                std::nullopt, RemoteSystemAction::lockScreen},
                         R"({"defaultAction":"mediaPlayPause","rightAction":"lockScreen"})");
}

TEST(InputMessagesTests, ReadsWhatAPeerWrites) {
    // Keys in any order, white space, unknown keys (of any kind), null optionals, integral numbers for
    // Doubles.
    auto scroll =
        decodeOrFail<MouseScrollMessage>(R"( { "momentumPhase" : "begin", "note": {"nested": [1, null]},
        "phase": "none", "deltaY": 3, "deltaX": -2.0, "momentumVelocityX": null } )");
    EXPECT_TRUE(scroll == (MouseScrollMessage{-2, 3, MouseScrollPhase::none, MouseScrollMomentumPhase::begin,
                                              std::nullopt, std::nullopt}));

    // One velocity alone decodes; whether momentum follows is the session's call.
    auto oneVelocity = decodeOrFail<MouseScrollMessage>(
        R"({"deltaX":0,"deltaY":-1e2,"phase":"ended","momentumPhase":"none","momentumVelocityY":-2.5E3})");
    EXPECT_EQ(oneVelocity.deltaY, -100);
    EXPECT_EQ(oneVelocity.momentumVelocityX, std::nullopt);
    EXPECT_EQ(oneVelocity.momentumVelocityY, -2500);

    EXPECT_TRUE(decodeOrFail<KeyboardLockStateMessage>(
                    R"({"languageSwitchIsLatin":null,"extra":[],"capsLock":false})") ==
                (KeyboardLockStateMessage{false, std::nullopt}));
    EXPECT_TRUE(decodeOrFail<MouseClickMessage>(R"({"phase":"released","v":2,"button":"forward"})") ==
                (MouseClickMessage{MouseButton::forward, MouseButtonPhase::released}));
    EXPECT_EQ(decodeOrFail<TextInputMessage>(R"({"text":"a\/b \u00e9\ud83d\udc4b"})").text, "a/b é👋");
    EXPECT_TRUE(decodeOrFail<HandSpecificAction<KeyboardTypePreference>>(
                    R"({"rightAction":null,"unknown":"x","leftAction":"iso"})") ==
                (HandSpecificAction<KeyboardTypePreference>{std::nullopt, KeyboardTypePreference::iso,
                                                            std::nullopt}));

    // A snapshot from a peer: integral floats for integers, a full dead-key byte, a missing optional.
    auto snapshot = decodeOrFail<KeyboardLayoutSnapshot>(
        R"({"labels":[{"labels":{"isDeadKey":true,"deadKeyModifiers":255.0,"normal":null,"shift":"\u00b4"},)"
        R"("key":"quote","future":true},{"key":"one","labels":{"normal":"1","isDeadKey":false}}],)"
        R"("effectivePreference":"automatic","effectiveKeyboardType":18.0,"macKeyboardType":4294967295,)"
        R"("macPhysicalLayout":"jis","languages":["ja","en"],"localizedName":"Romaji",)"
        R"("inputSourceID":"com.apple.inputmethod.Kotoeri.RomajiTyping.Roman","specialKeyStyle":null})");
    KeyLabelSet quote;
    quote.shift = "´";
    quote.isDeadKey = true;
    quote.deadKeyModifiers = KeyboardDeadKeyModifiers(0xFF);
    KeyLabelSet one;
    one.normal = "1";  // deadKeyModifiers missing reads as absent
    KeyboardLayoutSnapshot expected{"com.apple.inputmethod.Kotoeri.RomajiTyping.Roman",
                                    "Romaji",
                                    {"ja", "en"},
                                    std::nullopt,
                                    std::numeric_limits<std::uint32_t>::max(),
                                    RemoteKeyboardPhysicalLayout::jis,
                                    18,
                                    KeyboardTypePreference::automatic,
                                    {{RemoteKeyboardKey::quote, quote}, {RemoteKeyboardKey::one, one}}};
    EXPECT_TRUE(snapshot == expected) << serializeJson(*toJson(snapshot));
}

TEST(InputMessagesTests, RefusesMalformedPayloads) {
    using Decoder = std::optional<JsonErrorKind> (*)(std::string_view);
    struct Case {
        Decoder decode;
        std::string_view text;
        JsonErrorKind expected;
    };
    const std::vector<Case> cases{
        {decodeErrorKind<KeyboardEventMessage>, R"({"key":"return","phase":"pressed"})",
         JsonErrorKind::dataCorrupted},
        {decodeErrorKind<KeyboardEventMessage>, R"({"key":"a"})", JsonErrorKind::keyNotFound},
        {decodeErrorKind<KeyboardEventMessage>, R"({"key":"a","phase":null})", JsonErrorKind::valueNotFound},
        {decodeErrorKind<KeyboardEventMessage>, R"({"key":0,"phase":"pressed"})",
         JsonErrorKind::typeMismatch},
        {decodeErrorKind<KeyboardEventMessage>, R"(["a","pressed"])", JsonErrorKind::typeMismatch},
        {decodeErrorKind<MouseClickMessage>, R"({"button":"Primary","phase":"pressed"})",
         JsonErrorKind::dataCorrupted},
        {decodeErrorKind<MouseClickMessage>, R"({"button":"primary","phase":"down"})",
         JsonErrorKind::dataCorrupted},
        {decodeErrorKind<MouseMoveMessage>, R"({"deltaX":"1","deltaY":0})", JsonErrorKind::typeMismatch},
        {decodeErrorKind<MouseMoveMessage>, R"({"deltaX":1e999,"deltaY":0})", JsonErrorKind::dataCorrupted},
        {decodeErrorKind<MousePositionMessage>, R"({"normalizedX":0.5})", JsonErrorKind::keyNotFound},
        {decodeErrorKind<MouseScrollMessage>, R"({"deltaX":0,"deltaY":0,"phase":"ended"})",
         JsonErrorKind::keyNotFound},
        {decodeErrorKind<MouseScrollMessage>,
         R"({"deltaX":0,"deltaY":0,"phase":"none","momentumPhase":"none","momentumVelocityX":"fast"})",
         JsonErrorKind::typeMismatch},
        {decodeErrorKind<MouseScrollMessage>,
         R"({"deltaX":0,"deltaY":0,"phase":"none","momentumPhase":"stop"})", JsonErrorKind::dataCorrupted},
        {decodeErrorKind<KeyLabelSet>, R"({"deadKeyModifiers":0})", JsonErrorKind::keyNotFound},
        {decodeErrorKind<KeyLabelSet>, R"({"isDeadKey":1})", JsonErrorKind::typeMismatch},
        {decodeErrorKind<KeyLabelSet>, R"({"isDeadKey":true,"deadKeyModifiers":256})",
         JsonErrorKind::dataCorrupted},
        {decodeErrorKind<KeyLabelSet>, R"({"isDeadKey":true,"deadKeyModifiers":-1})",
         JsonErrorKind::dataCorrupted},
        {decodeErrorKind<KeyLabelSet>, R"({"isDeadKey":true,"deadKeyModifiers":1.5})",
         JsonErrorKind::dataCorrupted},
        {decodeErrorKind<KeyLabelSet>, R"({"isDeadKey":true,"deadKeyModifiers":{"normal":true}})",
         JsonErrorKind::typeMismatch},
        {decodeErrorKind<KeyLabelSet>, R"({"isDeadKey":false,"normal":7})", JsonErrorKind::typeMismatch},
        {decodeErrorKind<KeyboardLockStateMessage>, R"({"capsLock":"true"})", JsonErrorKind::typeMismatch},
        {decodeErrorKind<KeyboardLockStateMessage>, R"({"capsLock":true,"languageSwitchIsLatin":0})",
         JsonErrorKind::typeMismatch},
        {decodeErrorKind<TextInputMessage>, R"({"text":null})", JsonErrorKind::valueNotFound},
        {decodeErrorKind<TextInputMessage>, R"({"text":["a"]})", JsonErrorKind::typeMismatch},
        {decodeErrorKind<SystemActionMessage>, R"({"action":"copyToMac"})", JsonErrorKind::dataCorrupted},
        {decodeErrorKind<KeyboardTypePreferenceMessage>, R"({"preference":"Automatic"})",
         JsonErrorKind::dataCorrupted},
        {decodeErrorKind<HandSpecificAction<RemoteSystemAction>>, R"({"leftAction":"swipe"})",
         JsonErrorKind::dataCorrupted},
    };
    for (const auto& [decode, text, expected] : cases) {
        EXPECT_EQ(decode(text), expected) << text;
    }

    // Snapshot faults, each on an otherwise valid snapshot, and the path that names the faulty value.
    struct SnapshotCase {
        std::string_view key;
        std::string_view value;
        JsonErrorKind expected;
        std::string_view codingPath;
    };
    const std::vector<SnapshotCase> snapshotCases{
        {"macKeyboardType", "4294967296", JsonErrorKind::dataCorrupted, "macKeyboardType"},
        {"effectiveKeyboardType", "-1", JsonErrorKind::dataCorrupted, "effectiveKeyboardType"},
        {"effectiveKeyboardType", "null", JsonErrorKind::valueNotFound, "effectiveKeyboardType"},
        {"specialKeyStyle", R"("leftToRight")", JsonErrorKind::dataCorrupted, "specialKeyStyle"},
        {"macPhysicalLayout", R"("ANSI")", JsonErrorKind::dataCorrupted, "macPhysicalLayout"},
        {"languages", R"(["en",1])", JsonErrorKind::typeMismatch, "languages.Index 1"},
        {"labels", "{}", JsonErrorKind::typeMismatch, "labels"},
        {"labels", R"([{"key":"numpad0","labels":{"isDeadKey":false}}])", JsonErrorKind::dataCorrupted,
         "labels.Index 0.key"},
        {"labels", R"([{"key":"a","labels":{"isDeadKey":true,"deadKeyModifiers":300}}])",
         JsonErrorKind::dataCorrupted, "labels.Index 0.labels.deadKeyModifiers"},
    };
    for (const auto& [key, value, expected, codingPath] : snapshotCases) {
        Json snapshot = *toJson(KeyboardLayoutSnapshot{});
        snapshot[std::string(key)] = *parseJson(value);
        auto decoded = fromJson<KeyboardLayoutSnapshot>(snapshot);
        ASSERT_FALSE(decoded.has_value()) << key << ": " << value;
        EXPECT_EQ(decoded.error().kind, expected) << key << ": " << value;
        EXPECT_EQ(decoded.error().codingPath, codingPath);
    }
}

TEST(InputMessagesTests, EveryKeyboardKeyRoundTripsByItsRawValue) {
    // clang-format off
    expectRawValues<RemoteKeyboardKey>({
        "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o",
        "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "one", "two",
        "three", "four", "five", "six", "seven", "eight", "nine", "zero", "minus",
        "equal", "grave", "leftBracket", "rightBracket", "backslash", "semicolon",
        "quote", "comma", "period", "slash", "space", "tab", "escape", "delete",
        "forwardDelete", "returnKey", "home", "end", "pageUp", "pageDown", "f1", "f2",
        "f3", "f4", "f5", "f6", "f7", "f8", "f9", "f10", "f11", "f12", "f13", "f14",
        "f15", "f16", "f17", "f18", "f19", "f20", "capsLock", "shift", "rightShift",
        "control", "rightControl", "option", "rightOption", "command", "rightCommand",
        "fn", "upArrow", "downArrow", "leftArrow", "rightArrow", "contextMenu",
        "numpadZero", "numpadOne", "numpadTwo", "numpadThree", "numpadFour", "numpadFive",
        "numpadSix", "numpadSeven", "numpadEight", "numpadNine", "numpadClear",
        "numpadDecimal", "numpadEnter", "numpadPlus", "numpadMinus", "numpadMultiply",
        "numpadDivide", "numpadEquals", "isoSection", "jisYen", "jisUnderscore",
        "jisNumpadComma", "jisEisu", "jisKana",
    });
    // clang-format on
    EXPECT_EQ(static_cast<int>(RemoteKeyboardKey::returnKey), 52);
    EXPECT_EQ(static_cast<int>(RemoteKeyboardKey::f1), 57);
    EXPECT_EQ(static_cast<int>(RemoteKeyboardKey::numpadZero), 92);
    expectRefused<RemoteKeyboardKey>(
        {"return", "A", "F1", "numpad0", "", "a ", "Delete", "delete_", "returnkey", "f21", "jisKanaX"});
}

TEST(InputMessagesTests, EverySystemActionRoundTripsByItsRawValue) {
    expectRawValues<RemoteSystemAction>({"back",           "forward",      "primaryClick",  "secondaryClick",
                                         "middleClick",    "mouseBack",    "mouseForward",  "missionControl",
                                         "spotlight",      "dictation",    "mediaPrevious", "mediaPlayPause",
                                         "mediaNext",      "mute",         "volumeDown",    "volumeUp",
                                         "brightnessDown", "brightnessUp", "apps",          "lockScreen",
                                         "copyFromMac",    "pasteToMac"});
    expectRefused<RemoteSystemAction>({"Back", "copyToMac", "pasteFromMac", "playPause", "launchpad", ""});
}

TEST(InputMessagesTests, SmallEnumerationsKeepTheirRawValuesAndOrder) {
    expectRawValues<MouseButton>({"primary", "secondary", "middle", "back", "forward"});
    expectRawValues<MouseButtonPhase>({"pressed", "released"});
    expectRawValues<KeyboardEventPhase>({"pressed", "released"});
    expectRawValues<MouseScrollPhase>({"none", "mayBegin", "began", "changed", "ended"});
    expectRawValues<MouseScrollMomentumPhase>({"none", "begin", "continuous", "end"});
    expectRawValues<KeyboardTypePreference>({"automatic", "ansi", "iso", "jis"});
    expectRawValues<RemoteKeyboardPhysicalLayout>({"ansi", "iso", "jis", "unknown"});
    expectRawValues<KeyboardSpecialKeyStyle>({"standard", "rightToLeft", "chineseLanguageSwitch",
                                              "japaneseLanguageSwitch", "koreanLanguageSwitch"});
    expectRefused<MouseScrollPhase>({"None", "begin", "maybegin"});
    expectRefused<KeyboardTypePreference>({"ANSI", "auto"});

    // The platform's mouse-button numbers.
    const std::array<std::uint32_t, 5> numbers{0, 1, 2, 3, 4};
    for (std::size_t index = 0; index < numbers.size(); ++index) {
        EXPECT_EQ(mouseButtonNumber(allEnumCases<MouseButton>()[index]), numbers[index]);
    }
}

TEST(InputMessagesTests, SpecialKeyStyleComesFromTheFirstMatchingLanguage) {
    struct Case {
        std::vector<std::string> languages;
        KeyboardSpecialKeyStyle expected;
    };
    using enum KeyboardSpecialKeyStyle;
    const std::vector<Case> cases{
        {{"en-US", "ja-JP"}, japaneseLanguageSwitch},
        {{"ko", "zh-Hans"}, koreanLanguageSwitch},
        {{"he"}, rightToLeft},
        {{"ar-EG"}, rightToLeft},
        {{"zh-Hant-TW"}, chineseLanguageSwitch},
        {{"zh_Hans_CN"}, chineseLanguageSwitch},
        {{"JA_jp"}, japaneseLanguageSwitch},
        {{"ar@numbers=latn"}, rightToLeft},
        {{"ko_KR.UTF-8"}, koreanLanguageSwitch},
        {{"en", "de"}, standard},
        {{}, standard},
        // Identifiers naming no language are skipped, and only the language subtag counts.
        {{"", "-ja", "Hant-ja", "1ja", "he"}, rightToLeft},
        {{"jav", "arn", "kok", "zha", "heb"}, standard},
        {{"en-ja", "de-AR", "fr-Hebr"}, standard},
    };
    for (const auto& [languages, expected] : cases) {
        std::string joined;
        for (const auto& language : languages)
            joined += "[" + language + "]";
        EXPECT_EQ(keyboardSpecialKeyStyle(languages), expected) << joined;
    }
}

TEST(InputMessagesTests, DeadKeyModifiersAreAByteOfStateBits) {
    using M = KeyboardDeadKeyModifiers;
    // The bit of a state follows Shift (1), Option (2) and Caps Lock (4), not the label field order.
    struct Case {
        bool shift;
        bool option;
        bool capsLock;
        M member;
        std::uint8_t bit;
    };
    const std::vector<Case> cases{
        {false, false, false, M::normal, 0x01},   {true, false, false, M::shift, 0x02},
        {false, true, false, M::option, 0x04},    {true, true, false, M::optionShift, 0x08},
        {false, false, true, M::caps, 0x10},      {true, false, true, M::capsShift, 0x20},
        {false, true, true, M::optionCaps, 0x40}, {true, true, true, M::optionCapsShift, 0x80},
    };
    M all;
    for (const auto& [shift, option, capsLock, member, bit] : cases) {
        EXPECT_EQ(M::forState(shift, option, capsLock), member);
        EXPECT_EQ(member.rawValue, bit);
        all = all.unionWith(member);
    }
    EXPECT_EQ(all, M(0xFF));
    EXPECT_EQ(decodeJson<M>("255"), all);
    EXPECT_EQ(decodeJson<M>("0"), M{});

    M set{M::shift, M::caps};
    EXPECT_EQ(set.rawValue, 0x12);
    EXPECT_TRUE(set.contains(M::caps));
    EXPECT_FALSE(set.contains(M{M::caps, M::option}));
    EXPECT_EQ(set.intersection(M{M::caps, M::option}), M::caps);
    EXPECT_EQ(set.symmetricDifference(M{M::caps, M::option}), (M{M::shift, M::option}));
    EXPECT_EQ(set.subtracting(M::shift), M::caps);
    EXPECT_TRUE(M::caps.isSubset(set));
    EXPECT_FALSE(set.isSubset(M::caps));
    EXPECT_TRUE(set.isDisjoint(M::option));
    EXPECT_TRUE(M{}.isEmpty());

    EXPECT_EQ(set.insert(M::caps), std::pair(false, M::caps));
    EXPECT_EQ(set.insert(M{M::caps, M::option}), std::pair(true, M{M::caps, M::option}));
    EXPECT_EQ(set, (M{M::shift, M::caps, M::option}));
    EXPECT_EQ(set.remove(M::optionCaps), std::nullopt);
    EXPECT_EQ(set.remove(M{M::option, M::optionCaps}), M::option);
    EXPECT_EQ(set.update(M::normal), std::nullopt);
    EXPECT_EQ(set.update(M{M::normal, M::optionShift}), M::normal);
    EXPECT_EQ(set, (M{M::normal, M::shift, M::optionShift, M::caps}));
}

TEST(InputMessagesTests, EqualityComparesFieldsWithTextByCanonicalEquivalence) {
    const std::string precomposed = "caf\u00e9";
    const std::string decomposed = "cafe\u0301";
    EXPECT_TRUE(TextInputMessage{precomposed} == TextInputMessage{decomposed});
    EXPECT_FALSE(TextInputMessage{"cafe"} == TextInputMessage{precomposed});

    KeyLabelSet left = letterALabels();
    KeyLabelSet right = letterALabels();
    left.option = "\u00e5";
    right.option = "a\u030a";
    EXPECT_TRUE(left == right);
    right.optionCaps = std::nullopt;  // absent differs from present
    EXPECT_FALSE(left == right);
    right = letterALabels();
    right.deadKeyModifiers = std::nullopt;
    EXPECT_FALSE(left == right);

    KeyboardLayoutSnapshot first;
    first.languages = {"ja", "en"};
    first.labels = {{RemoteKeyboardKey::a, left}, {RemoteKeyboardKey::b, left}};
    KeyboardLayoutSnapshot second = first;
    EXPECT_TRUE(first == second);
    second.languages = {"en", "ja"};  // order counts in lists
    EXPECT_FALSE(first == second);
    second = first;
    std::swap(second.labels[0], second.labels[1]);
    EXPECT_FALSE(first == second);

    MouseScrollMessage withVelocity;
    withVelocity.momentumVelocityX = 0.0;
    EXPECT_FALSE(withVelocity == MouseScrollMessage{});
    EXPECT_TRUE((KeyboardLockStateMessage{true, std::nullopt}) != (KeyboardLockStateMessage{true, false}));
    EXPECT_TRUE((HandSpecificAction<MouseButton>{std::nullopt, MouseButton::back, std::nullopt}) !=
                (HandSpecificAction<MouseButton>{std::nullopt, std::nullopt, MouseButton::back}));
}

TEST(InputMessagesTests, NonFiniteNumbersRefuseToEncode) {
    const double infinity = std::numeric_limits<double>::infinity();
    auto move = encodeJson(MouseMoveMessage{std::numeric_limits<double>::quiet_NaN(), 0});
    ASSERT_FALSE(move.has_value());
    EXPECT_EQ(move.error().kind, JsonErrorKind::invalidValue);
    EXPECT_EQ(move.error().codingPath, "deltaX");
    MouseScrollMessage runaway;
    runaway.momentumVelocityY = -infinity;
    auto scroll = encodeJson(runaway);
    ASSERT_FALSE(scroll.has_value());
    EXPECT_EQ(scroll.error().codingPath, "momentumVelocityY");
}

}  // namespace
}  // namespace quillbridge
