#include "platform/linux/update/AppcastParser.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Base64.hpp"

namespace quillbridge {
namespace {

const std::string signature = encodeBase64(Bytes(64, 7));

std::string feedWith(const std::string& items) {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:quillbridge="https://mossharbor.com/xml-namespaces/quillbridge-update">
  <channel><title>Quillbridge Host</title>)" +
           items + "</channel></rss>";
}

std::string item(
    const std::string& version, const std::string& enclosureAttributes,
    const std::string& more = "<quillbridge:shortVersionString>1.4.0</quillbridge:shortVersionString>") {
    return "<item><title>Version</title><quillbridge:version>" + version + "</quillbridge:version>" + more +
           "<enclosure " + enclosureAttributes + "/></item>";
}

std::string enclosure(const std::string& url = "https://example.org/q_1.4.0_amd64.deb",
                      const std::string& length = "1234", const std::string& sig = signature) {
    return "url=\"" + url + "\" length=\"" + length +
           "\" type=\"application/vnd.debian.binary-package\" "
           "quillbridge:edSignature=\"" +
           sig + "\"";
}

TEST(AppcastParserTest, ReadsAnItemWithEveryField) {
    const auto parsed = AppcastParser::parse(
        feedWith(item("412", enclosure(),
                      "<quillbridge:shortVersionString> 1.4.0 </quillbridge:shortVersionString>"
                      "<description><![CDATA[<p>Faster & <b>better</b></p>]]></description>")));
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->size(), 1u);
    const auto& found = parsed->front();
    EXPECT_EQ(found.versionString, "412");
    EXPECT_EQ(found.displayVersionString, "1.4.0");
    EXPECT_EQ(found.releaseNotes, "<p>Faster & <b>better</b></p>");
    EXPECT_EQ(found.downloadURL, "https://example.org/q_1.4.0_amd64.deb");
    EXPECT_EQ(found.length, 1234u);
    EXPECT_EQ(found.edSignature, Bytes(64, 7));
}

TEST(AppcastParserTest, LeavesOutItemsThatCannotBeInstalledSafely) {
    struct Case {
        const char* name;
        std::string item;
        bool kept;
    };
    const std::vector<Case> cases = {
        {"valid", item("1", enclosure()), true},
        {"no display version: the version stands in", item("7", enclosure(), ""), true},
        {"no version", item("", enclosure()), false},
        {"no enclosure", "<item><quillbridge:version>3</quillbridge:version></item>", false},
        {"plain http package", item("1", enclosure("http://example.org/a.deb")), false},
        {"no host", item("1", enclosure("https:///a.deb")), false},
        {"zero length", item("1", enclosure({"https://example.org/a.deb"}, "0")), false},
        {"negative length", item("1", enclosure({"https://example.org/a.deb"}, "-5")), false},
        {"length with text", item("1", enclosure({"https://example.org/a.deb"}, "12kB")), false},
        {"length beyond the bound", item("1", enclosure({"https://example.org/a.deb"}, "1073741825")), false},
        {"length overflowing", item("1", enclosure({"https://example.org/a.deb"}, "99999999999999999999999")),
         false},
        {"signature of 63 bytes",
         item("1", enclosure({"https://example.org/a.deb"}, "10", encodeBase64(Bytes(63, 1)))), false},
        {"signature not Base64", item("1", enclosure({"https://example.org/a.deb"}, "10", "!!!")), false},
        {"signature missing", item("1", "url=\"https://example.org/a.deb\" length=\"10\""), false},
    };
    for (const auto& entry : cases) {
        const auto parsed = AppcastParser::parse(feedWith(entry.item));
        ASSERT_TRUE(parsed) << entry.name;
        EXPECT_EQ(parsed->size(), entry.kept ? 1u : 0u) << entry.name;
    }
}

TEST(AppcastParserTest, RefusesDocumentsThatAreNotAFeed) {
    struct Case {
        const char* name;
        std::string document;
        AppcastError error;
    };
    const std::vector<Case> cases = {
        {"empty", "", AppcastError::malformed},
        {"not XML", "{\"version\": 1}", AppcastError::malformed},
        {"unclosed", feedWith(item("1", enclosure())).substr(0, 200), AppcastError::malformed},
        {"another root", "<feed><channel/></feed>", AppcastError::notAFeed},
        {"no channel", "<rss version=\"2.0\"><item/></rss>", AppcastError::notAFeed},
        {"document type with entities",
         "<!DOCTYPE rss [<!ENTITY a \"aaaa\">]><rss><channel><title>&a;</title></channel></rss>",
         AppcastError::malformed},
        {"too large", feedWith(std::string(AppcastParser::maximumFeedLength, ' ')), AppcastError::tooLarge},
    };
    for (const auto& entry : cases) {
        const auto parsed = AppcastParser::parse(entry.document);
        ASSERT_FALSE(parsed) << entry.name;
        EXPECT_EQ(parsed.error(), entry.error) << entry.name;
    }
    const auto empty = AppcastParser::parse(feedWith(""));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

}  // namespace
}  // namespace quillbridge
