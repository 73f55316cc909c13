#include "input/ClipboardMimeMapping.hpp"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "wire/ClipboardUniformType.hpp"

namespace quillbridge {
namespace {

TEST(ClipboardMimeMappingTest, MapsTypesToDesktopFormatsAndBack) {
    struct Case {
        const char* typeIdentifier;
        std::optional<std::string> mimeType;
    };
    const std::vector<Case> cases{
        {"public.utf8-plain-text", "text/plain;charset=utf-8"},
        {"public.html", "text/html"},
        {"public.rtf", "text/rtf"},
        {"public.png", "image/png"},
        {"public.jpeg", "image/jpeg"},
        {"public.tiff", "image/tiff"},
        {"com.adobe.pdf", "application/pdf"},
        {"public.file-url", "text/uri-list"},
        {"com.example.private-format", "com.example.private-format"},
        {"com.apple.flat-rtfd", "com.apple.flat-rtfd"},  // known, without a MIME type
        {"not a type", std::nullopt},                    // neither MIME-mapped nor reverse-DNS shaped
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.typeIdentifier);
        EXPECT_EQ(ClipboardMimeMapping::mimeType(testCase.typeIdentifier), testCase.mimeType);
        if (testCase.mimeType) {
            EXPECT_EQ(ClipboardMimeMapping::typeIdentifier(*testCase.mimeType), testCase.typeIdentifier);
        }
    }
    // Every MIME type of the wire's table reads back as its own type, except where text is merged.
    for (const auto& declaration : ClipboardUniformType::declarations()) {
        if (declaration.mimeType.empty() || declaration.mimeType.starts_with("text/plain"))
            continue;
        SCOPED_TRACE(declaration.identifier);
        EXPECT_EQ(ClipboardMimeMapping::typeIdentifier(declaration.mimeType), declaration.identifier);
    }
    const std::vector<std::pair<std::string, std::optional<std::string>>> reads{
        {"text/plain", "public.utf8-plain-text"},
        {"UTF8_STRING", "public.utf8-plain-text"},
        {"x-special/gnome-copied-files", "public.file-url"},
        {"TARGETS", std::nullopt},
        {"application/x-qt-image", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [mime, type] : reads) {
        SCOPED_TRACE(mime);
        EXPECT_EQ(ClipboardMimeMapping::typeIdentifier(mime), type);
    }
}

DesktopClipboardWriteItem writeItem(std::vector<DesktopClipboardValue> values) {
    return {std::move(values)};
}

TEST(ClipboardMimeMappingTest, MergesItemsKeepingTheFirstWholeAndListingEveryFile) {
    std::vector<DesktopClipboardWriteItem> items{
        writeItem(
            {{"public.utf8-plain-text", std::string("first")}, {"public.html", toBytes("<p>first</p>")}}),
        writeItem({{"public.file-url", std::string("file:///tmp/a.png")},
                   {"public.png", Bytes{1, 2}},
                   {"public.utf8-plain-text", std::string("second")}}),
        writeItem(
            {{"public.file-url", std::string("file:///tmp/b%20c.txt")}, {"public.rtf", toBytes("{\\rtf}")}}),
    };
    std::vector<DesktopClipboardFormat> expected{
        {"text/plain;charset=utf-8", toBytes("first")},
        {"text/html", toBytes("<p>first</p>")},
        {"text/uri-list", toBytes("file:///tmp/a.png\r\nfile:///tmp/b%20c.txt\r\n")},
        {"x-special/gnome-copied-files", toBytes("copy\nfile:///tmp/a.png\nfile:///tmp/b%20c.txt")},
        {"image/png", Bytes{1, 2}},
        {"text/rtf", toBytes("{\\rtf}")},
    };
    EXPECT_EQ(ClipboardMimeMapping::merge(items), expected);

    // A link is offered as a URI list only when no file is.
    std::vector<DesktopClipboardWriteItem> link{
        writeItem({{"public.url", std::string("https://example.com/")}})};
    EXPECT_EQ(ClipboardMimeMapping::merge(link),
              (std::vector<DesktopClipboardFormat>{{"text/uri-list", toBytes("https://example.com/\r\n")}}));
}

TEST(ClipboardMimeMappingTest, ShowsTheOneDesktopItemAsAnItemPerFileTheFirstWithEveryOtherFormat) {
    const std::map<std::string, std::string> values{
        {"text/uri-list", "https://example.com/\r\nfile:///tmp/a.png\r\nfile:///tmp/b.txt\r\n"},
        {"x-special/gnome-copied-files", "copy\nfile:///tmp/other"},
    };
    auto value = [&](std::string_view name) -> std::optional<std::string> {
        auto found = values.find(std::string(name));
        return found == values.end() ? std::nullopt : std::optional(found->second);
    };
    using Layout = DesktopClipboardItemLayout;
    // The text formats give one type, kept from the first; the desktop's own targets have none.
    const std::vector<std::string> names{"TARGETS",       "UTF8_STRING", "text/plain;charset=utf-8",
                                         "text/uri-list", "image/png",   "x-special/gnome-copied-files"};
    EXPECT_EQ(ClipboardMimeMapping::itemLayouts(names, value),
              (std::vector<Layout>{{"file:///tmp/a.png",
                                    "https://example.com/",
                                    {{"public.utf8-plain-text", "UTF8_STRING"},
                                     {"public.url", "text/uri-list"},
                                     {"public.png", "image/png"}}},
                                   {"file:///tmp/b.txt", std::nullopt, {}}}));

    // A file list without a link is not offered as a format; without files there is one item, or none.
    EXPECT_EQ(
        ClipboardMimeMapping::itemLayouts({"STRING", "x-special/gnome-copied-files"}, value),
        (std::vector<Layout>{{"file:///tmp/other", std::nullopt, {{"public.utf8-plain-text", "STRING"}}}}));
    EXPECT_EQ(ClipboardMimeMapping::itemLayouts({"TARGETS", "text/html"}, value),
              (std::vector<Layout>{{std::nullopt, std::nullopt, {{"public.html", "text/html"}}}}));
    EXPECT_TRUE(ClipboardMimeMapping::itemLayouts({"TARGETS"}, value).empty());
}

TEST(ClipboardMimeMappingTest, ReadsTheFileURLsOfBothFileListFormats) {
    EXPECT_EQ(ClipboardMimeMapping::listedURLs("text/uri-list", "# comment\r\nfile:///a\r\n\r\nfile:///b"),
              (std::vector<std::string>{"file:///a", "file:///b"}));
    EXPECT_EQ(ClipboardMimeMapping::listedURLs("x-special/gnome-copied-files", "cut\nfile:///a\nfile:///b\n"),
              (std::vector<std::string>{"file:///a", "file:///b"}));
    EXPECT_TRUE(ClipboardMimeMapping::listedURLs("text/uri-list", "").empty());
}

}  // namespace
}  // namespace quillbridge
