#include "input/ClipboardURL.hpp"

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

TEST(ClipboardURLTest, ReadsLocalFileURLsOnly) {
    const std::vector<std::pair<std::string, std::optional<std::filesystem::path>>> cases{
        {"file:///tmp/a.txt", "/tmp/a.txt"},
        {"FILE://localhost/tmp/a%20b.txt", "/tmp/a b.txt"},
        {"file:/tmp/%C3%A9t%C3%A9", "/tmp/été"},
        {"file:///tmp/a.txt#fragment", "/tmp/a.txt"},
        {"file://server/share/a.txt", std::nullopt},
        {"file://", std::nullopt},
        {"file:relative/a.txt", std::nullopt},
        {"file:///tmp/%00evil", std::nullopt},
        {"file:///tmp/%2", std::nullopt},
        {"file:///tmp/%zz", std::nullopt},
        {"file:///tmp/a\nb", std::nullopt},
        {"https://example.com/a.txt", std::nullopt},
        {"/tmp/a.txt", std::nullopt},
    };
    for (const auto& [url, path] : cases) {
        SCOPED_TRACE(url);
        EXPECT_EQ(ClipboardURL::filePath(url), path);
    }
}

TEST(ClipboardURLTest, FileURLsOfPathsReadBackAsThePaths) {
    for (std::filesystem::path path :
         {"/tmp/plain.txt", "/tmp/with space/and%percent#hash?.png", "/tmp/été/ü", "/tmp/new\nline"}) {
        SCOPED_TRACE(path.string());
        auto url = ClipboardURL::fileURLString(path);
        EXPECT_TRUE(url.starts_with("file:///"));
        EXPECT_EQ(url.find_first_of(" \n#?"), std::string::npos);
        EXPECT_EQ(ClipboardURL::filePath(url), path);
    }
}

TEST(ClipboardURLTest, LinksNeedASchemeOtherThanFileAndNoSpaces) {
    const std::vector<std::pair<std::string, bool>> cases{
        {"https://example.com/a?b#c", true},
        {"mailto:someone@example.com", true},
        {"x-app+v1.2:go", true},
        {"file:///etc/passwd", false},
        {"File:///etc/passwd", false},
        {"example.com", false},
        {"1http://x", false},
        {"https://a b", false},
        {"", false},
        {"https://é.example", false},
    };
    for (const auto& [text, accepted] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ClipboardURL::linkString(text).has_value(), accepted);
    }
}

}  // namespace
}  // namespace quillbridge
