#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "core/Bytes.hpp"

namespace quillbridge {

// One release in the update feed: an RSS 2.0 item with its versions, release notes and the package to
// download.
struct AppcastItem {
    std::string title;
    // The build version compared with the running build's ("412").
    std::string versionString;
    // The version shown to people ("1.4.0"); the build version when the item has none.
    std::string displayVersionString;
    // Plain text.
    std::string releaseNotes;
    // An https address of the Debian package.
    std::string downloadURL;
    std::uint64_t length = 0;
    // The Ed25519 signature of the whole package (64 bytes).
    Bytes edSignature;

    bool operator==(const AppcastItem&) const = default;
};

enum class AppcastError { tooLarge, malformed, notAFeed };

// Reads the update feed:
//   <rss version="2.0" xmlns:quillbridge="https://mossharbor.com/xml-namespaces/quillbridge-update">
//     <channel><item>
//       <title>…</title>
//       <quillbridge:version>412</quillbridge:version>
//       <quillbridge:shortVersionString>1.4.0</quillbridge:shortVersionString>
//       <description>release notes</description>
//       <enclosure url="https://…/quillbridge-host_1.4.0_amd64.deb" length="123456"
//                  type="application/vnd.debian.binary-package" quillbridge:edSignature="Base64…"/>
//     </item></channel>
//   </rss>
// A document that is not well-formed or not an RSS channel is refused; an item without a version, or whose
// enclosure lacks an https address, a length between 1 byte and maximumPackageLength or a 64-byte
// signature in standard Base64, is left out.
struct AppcastParser {
    static constexpr std::string_view updateNamespace =
        "https://mossharbor.com/xml-namespaces/quillbridge-update";
    static constexpr std::size_t maximumFeedLength = 4 * 1024 * 1024;
    static constexpr std::uint64_t maximumPackageLength = 1024ull * 1024 * 1024;

    static std::expected<std::vector<AppcastItem>, AppcastError> parse(std::string_view document);
};

}  // namespace quillbridge
