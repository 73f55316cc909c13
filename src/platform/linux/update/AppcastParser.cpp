#include "platform/linux/update/AppcastParser.hpp"

#include <charconv>
#include <optional>

#include <QString>
#include <QUrl>
#include <QXmlStreamReader>

#include "core/Base64.hpp"

namespace quillbridge {
namespace {

constexpr std::size_t ed25519SignatureLength = 64;

struct Enclosure {
    std::string url;
    std::string length;
    std::string signature;
};

struct PendingItem {
    std::string title;
    std::string version;
    std::string shortVersion;
    std::string description;
    std::optional<Enclosure> enclosure;
};

std::optional<std::uint64_t> parseLength(std::string_view text) {
    if (text.empty() || text.size() > 20) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool isHttpsURL(const std::string& text) {
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    return url.isValid() && url.scheme().toLower() == QStringLiteral("https") && !url.host().isEmpty();
}

std::optional<AppcastItem> finish(const PendingItem& pending) {
    if (pending.version.empty() || !pending.enclosure) {
        return std::nullopt;
    }
    const auto length = parseLength(pending.enclosure->length);
    if (!length || *length == 0 || *length > AppcastParser::maximumPackageLength) {
        return std::nullopt;
    }
    auto signature = decodeBase64(pending.enclosure->signature);
    if (!signature || signature->size() != ed25519SignatureLength) {
        return std::nullopt;
    }
    if (!isHttpsURL(pending.enclosure->url)) {
        return std::nullopt;
    }
    AppcastItem item;
    item.title = pending.title;
    item.versionString = pending.version;
    item.displayVersionString = pending.shortVersion.empty() ? pending.version : pending.shortVersion;
    item.releaseNotes = pending.description;
    item.downloadURL = pending.enclosure->url;
    item.length = *length;
    item.edSignature = std::move(*signature);
    return item;
}

std::string trimmed(const QString& text) {
    return text.trimmed().toStdString();
}

}  // namespace

std::expected<std::vector<AppcastItem>, AppcastError> AppcastParser::parse(std::string_view document) {
    if (document.size() > maximumFeedLength) {
        return std::unexpected(AppcastError::tooLarge);
    }
    QXmlStreamReader reader(QByteArray(document.data(), static_cast<qsizetype>(document.size())));
    const QString ours = QString::fromUtf8(updateNamespace);
    std::vector<AppcastItem> items;
    std::optional<PendingItem> item;
    bool sawRSS = false;
    bool sawChannel = false;
    int depth = 0;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::DTD) {
            // No document types: nothing here needs entities of its own.
            return std::unexpected(AppcastError::malformed);
        }
        if (token == QXmlStreamReader::EndElement) {
            --depth;
            if (item && reader.name() == QStringLiteral("item") && reader.namespaceUri().isEmpty()) {
                if (auto finished = finish(*item)) {
                    items.push_back(std::move(*finished));
                }
                item.reset();
            }
            continue;
        }
        if (token != QXmlStreamReader::StartElement) {
            continue;
        }
        ++depth;
        const auto name = reader.name();
        const bool plain = reader.namespaceUri().isEmpty();
        if (depth == 1) {
            if (!plain || name != QStringLiteral("rss")) {
                return std::unexpected(AppcastError::notAFeed);
            }
            sawRSS = true;
        } else if (depth == 2 && plain && name == QStringLiteral("channel")) {
            sawChannel = true;
        } else if (depth == 3 && sawChannel && plain && name == QStringLiteral("item")) {
            item.emplace();
        } else if (depth == 4 && item) {
            if (plain && name == QStringLiteral("title")) {
                item->title = trimmed(reader.readElementText());
                --depth;
            } else if (plain && name == QStringLiteral("description")) {
                item->description = trimmed(reader.readElementText(QXmlStreamReader::IncludeChildElements));
                --depth;
            } else if (reader.namespaceUri() == ours && name == QStringLiteral("version")) {
                item->version = trimmed(reader.readElementText());
                --depth;
            } else if (reader.namespaceUri() == ours && name == QStringLiteral("shortVersionString")) {
                item->shortVersion = trimmed(reader.readElementText());
                --depth;
            } else if (plain && name == QStringLiteral("enclosure") && !item->enclosure) {
                const auto attributes = reader.attributes();
                item->enclosure = Enclosure{
                    attributes.value(QStringLiteral("url")).toString().trimmed().toStdString(),
                    attributes.value(QStringLiteral("length")).toString().trimmed().toStdString(),
                    attributes.value(ours, QStringLiteral("edSignature")).toString().trimmed().toStdString(),
                };
            }
        }
    }
    if (reader.hasError()) {
        return std::unexpected(AppcastError::malformed);
    }
    if (!sawRSS || !sawChannel) {
        return std::unexpected(AppcastError::notAFeed);
    }
    return items;
}

}  // namespace quillbridge
