#include "platform/linux/qt/QtDesktopClipboard.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QString>

#include "input/ClipboardMimeMapping.hpp"
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
    std::vector<std::string> formatNames;
    for (const auto& format : data->formats())
        formatNames.push_back(format.toStdString());
    auto value = [data](std::string_view name) -> std::optional<std::string> {
        auto format = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
        if (!data->hasFormat(format))
            return std::nullopt;
        auto bytes = data->data(format);
        return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    };

    std::vector<std::unique_ptr<DesktopClipboardItem>> items;
    for (auto& layout : ClipboardMimeMapping::itemLayouts(formatNames, value)) {
        std::vector<std::pair<std::string, QString>> formats;
        for (auto& [type, name] : layout.formats)
            formats.emplace_back(std::move(type), QString::fromStdString(name));
        items.push_back(std::make_unique<QtClipboardItem>(std::move(layout.fileURL), std::move(layout.link),
                                                          std::move(formats)));
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
