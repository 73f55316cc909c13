#include "platform/linux/qt/QtDesktopClipboard.hpp"

#include <algorithm>
#include <utility>

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "input/ClipboardMimeMapping.hpp"
#include "input/ClipboardURL.hpp"
#include "wire/ClipboardUniformType.hpp"

namespace quillbridge {
namespace {

const QMimeData* currentMimeData() {
    auto* clipboard = QGuiApplication::clipboard();
    return clipboard ? clipboard->mimeData(QClipboard::Clipboard) : nullptr;
}

bool isType(std::string_view typeIdentifier, const ClipboardUniformType& type) {
    auto found = ClipboardUniformType::withIdentifier(typeIdentifier);
    return found && *found == type;
}

// The URLs that the clipboard's file-list formats name, in the order of the first format that has any.
std::vector<std::string> listedURLs(const QMimeData& data) {
    for (auto mime : {ClipboardMimeMapping::uriListMimeType, ClipboardMimeMapping::copiedFilesMimeType}) {
        auto name = QString::fromUtf8(mime.data(), static_cast<qsizetype>(mime.size()));
        if (!data.hasFormat(name))
            continue;
        auto bytes = data.data(name);
        auto urls = ClipboardMimeMapping::listedURLs(mime, std::string_view(bytes.constData(), bytes.size()));
        if (!urls.empty())
            return urls;
    }
    return {};
}

// One item of the clipboard: a file URL, and (for the first item) the clipboard's other formats.
class QtClipboardItem final : public DesktopClipboardItem {
public:
    // The formats by uniform type, in clipboard order; each type keeps the first format that maps to it.
    QtClipboardItem(std::optional<std::string> fileURL, std::optional<std::string> link,
                    std::vector<std::pair<std::string, QString>> formats)
        : fileURL_(std::move(fileURL)), link_(std::move(link)), formats_(std::move(formats)) {}

    std::vector<std::string> types() const override {
        std::vector<std::string> types;
        if (fileURL_)
            types.emplace_back(ClipboardUniformType::fileURL().identifier());
        for (const auto& [type, format] : formats_)
            types.push_back(type);
        return types;
    }

    std::optional<std::string> string(std::string_view typeIdentifier) const override {
        if (isType(typeIdentifier, ClipboardUniformType::fileURL()))
            return fileURL_;
        if (isType(typeIdentifier, ClipboardUniformType::url()))
            return link_;
        if (isType(typeIdentifier, ClipboardUniformType::utf8PlainText())) {
            const auto* data = currentMimeData();
            if (!data || !data->hasText() || !hasType(typeIdentifier))
                return std::nullopt;
            return data->text().toStdString();
        }
        auto bytes = data(typeIdentifier);
        if (!bytes)
            return std::nullopt;
        return std::string(asText(*bytes));
    }

    std::optional<Bytes> data(std::string_view typeIdentifier) const override {
        if (isType(typeIdentifier, ClipboardUniformType::utf8PlainText()) ||
            isType(typeIdentifier, ClipboardUniformType::url()) ||
            isType(typeIdentifier, ClipboardUniformType::fileURL())) {
            auto text = string(typeIdentifier);
            if (!text)
                return std::nullopt;
            return toBytes(*text);
        }
        auto format =
            std::ranges::find_if(formats_, [&](const auto& entry) { return entry.first == typeIdentifier; });
        if (format == formats_.end())
            return std::nullopt;
        const auto* mimeData = currentMimeData();
        if (!mimeData || !mimeData->hasFormat(format->second))
            return std::nullopt;
        auto bytes = mimeData->data(format->second);
        return Bytes(bytes.begin(), bytes.end());
    }

private:
    bool hasType(std::string_view typeIdentifier) const {
        return std::ranges::any_of(formats_,
                                   [&](const auto& entry) { return entry.first == typeIdentifier; });
    }

    std::optional<std::string> fileURL_;
    std::optional<std::string> link_;
    std::vector<std::pair<std::string, QString>> formats_;
};

}  // namespace

std::optional<std::vector<std::unique_ptr<DesktopClipboardItem>>> QtDesktopClipboard::items() {
    const auto* data = currentMimeData();
    if (!data)
        return std::nullopt;

    std::vector<std::string> fileURLs;
    std::optional<std::string> link;
    for (auto& url : listedURLs(*data)) {
        if (ClipboardURL::isFileURL(url))
            fileURLs.push_back(std::move(url));
        else if (!link && ClipboardURL::linkString(url))
            link = std::move(url);
    }

    std::vector<std::pair<std::string, QString>> formats;
    for (const auto& format : data->formats()) {
        auto name = format.toStdString();
        auto type = ClipboardMimeMapping::typeIdentifier(name);
        if (!type)
            continue;
        if (ClipboardMimeMapping::isFileListMimeType(name)) {
            // The list formats are read above: its links travel as the URL type, its files as items.
            if (!link)
                continue;
            type = std::string(ClipboardUniformType::url().identifier());
        }
        if (std::ranges::any_of(formats, [&](const auto& entry) { return entry.first == *type; }))
            continue;
        formats.emplace_back(std::move(*type), format);
    }

    std::vector<std::unique_ptr<DesktopClipboardItem>> items;
    if (fileURLs.empty()) {
        if (!formats.empty())
            items.push_back(std::make_unique<QtClipboardItem>(std::nullopt, link, std::move(formats)));
        return items;
    }
    for (std::size_t index = 0; index < fileURLs.size(); ++index) {
        std::vector<std::pair<std::string, QString>> itemFormats;
        if (index == 0)
            itemFormats = formats;
        items.push_back(std::make_unique<QtClipboardItem>(fileURLs[index], index == 0 ? link : std::nullopt,
                                                          std::move(itemFormats)));
    }
    return items;
}

bool QtDesktopClipboard::write(std::vector<DesktopClipboardWriteItem> items) {
    auto* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    auto formats = ClipboardMimeMapping::merge(items);
    if (formats.empty())
        return false;
    auto mimeData = std::make_unique<QMimeData>();
    for (const auto& format : formats) {
        auto bytes = QByteArray(reinterpret_cast<const char*>(format.data.data()),
                                static_cast<qsizetype>(format.data.size()));
        if (format.mimeType == ClipboardMimeMapping::utf8TextMimeType)
            mimeData->setText(QString::fromUtf8(bytes));
        mimeData->setData(QString::fromStdString(format.mimeType), bytes);
    }
    clipboard->setMimeData(mimeData.release(), QClipboard::Clipboard);
    return true;
}

}  // namespace quillbridge
