#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "KeyboardTestFixture.hpp"
#include "input/KeyboardTextChunks.hpp"

namespace quillbridge {
namespace {

std::vector<std::size_t> chunkSizes(const std::vector<std::u16string>& chunks) {
    std::vector<std::size_t> sizes;
    for (const auto& chunk : chunks)
        sizes.push_back(chunk.size());
    return sizes;
}

std::string repeated(std::string_view fragment, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += fragment;
    return text;
}

TEST(KeyboardTextChunksTest, ChunksHoldAtMostTwentyUnitsAndNeverSplitAPair) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::size_t> sizes;
    };
    const std::string emoji = "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units
    const Case cases[] = {
        {"45 ASCII", repeated("x", 45), {20, 20, 5}},
        {"19 ASCII then an emoji", repeated("x", 19) + emoji, {19, 2}},
        {"18 ASCII then an emoji", repeated("x", 18) + emoji, {20}},
        {"ten emoji and one more", repeated(emoji, 11), {20, 2}},
        {"exactly twenty", repeated("\xC3\xA9", 20), {20}},
        {"combining sequence may split", repeated("x", 19) + "e\xCC\x81", {20, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto chunks = splitTextIntoKeyboardChunks(c.text);
        EXPECT_EQ(chunkSizes(chunks), c.sizes);
    }
    auto chunks = splitTextIntoKeyboardChunks(repeated("x", 19) + emoji);
    EXPECT_EQ(chunks[1], (std::u16string{0xD83D, 0xDE00}));
    EXPECT_EQ(splitTextIntoKeyboardChunks("a\t\n\xE2\x82\xAC")[0],
              (std::u16string{u'a', u'\t', u'\n', 0x20AC}));
}

class KeyboardTextEntryTest : public KeyboardTestFixture {};

TEST_F(KeyboardTextEntryTest, LengthLimitIsCountedInUtf8Bytes) {
    struct Case {
        const char* name;
        std::string text;
        bool typed;
    };
    const Case cases[] = {
        {"16,384 ASCII", repeated("a", 16384), true},
        {"16,385 ASCII", repeated("a", 16385), false},
        {"5,461 three-byte characters", repeated("\xE2\x82\xAC", 5461), true},
        {"5,462 three-byte characters", repeated("\xE2\x82\xAC", 5462), false},
        {"empty", "", false},
        {"invalid UTF-8", "ab\xFF", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        poster.clear();
        logs.clear();
        keyboard->typeText(c.text);
        EXPECT_EQ(poster.eventsOf<RecordedText>().empty(), !c.typed);
        if (c.typed)
            EXPECT_TRUE(errors().empty());
        else
            EXPECT_THAT(errors(), ::testing::ElementsAre("Rejected invalid remote text input"));
    }
}

TEST_F(KeyboardTextEntryTest, ChunksArePostedInOrderWithTheKeyboardType) {
    keyboard->setKeyboardTypePreference(KeyboardTypePreference::jis);
    keyboard->typeText(repeated("x", 45));
    auto texts = poster.eventsOf<RecordedText>();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[2].chunk, u"xxxxx");
    EXPECT_EQ(texts[0].keyboardType, 18u);
}

TEST_F(KeyboardTextEntryTest, AFailedChunkIsSkippedAndDeniedPermissionDropsAll) {
    poster.failTextChunks = true;
    keyboard->typeText(repeated("x", 30));
    EXPECT_THAT(errors(), ::testing::ElementsAre("Failed to create Unicode keyboard event",
                                                 "Failed to create Unicode keyboard event"));
    poster.failTextChunks = false;
    poster.allowed = false;
    logs.clear();
    keyboard->typeText("hello");
    EXPECT_TRUE(poster.events().empty());
    EXPECT_THAT(errors(), ::testing::ElementsAre("Synthetic input permission was denied"));
}

}  // namespace
}  // namespace quillbridge
