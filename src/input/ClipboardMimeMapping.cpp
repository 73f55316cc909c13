#include "input/ClipboardMimeMapping.hpp"

#include <algorithm>
#include <array>

#include "input/ClipboardURL.hpp"
#include "wire/ClipboardRepresentation.hpp"
#include "wire/ClipboardUniformType.hpp"

namespace quillbridge {
namespace {

// X11 and plain-text names that all mean the desktop's (UTF-8) text.
constexpr std::array<std::string_view, 5> textFormats{"text/plain", "text/plain;charset=utf-8", "UTF8_STRING",
                                                      "STRING", "TEXT"};

bool equalsIgnoringAsciiCase(std::string_view left, std::string_view right) {
    return std::ranges::equal(left, right, [](char a, char b) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(a) == lower(b);
    });
}

bool isType(std::string_view typeIdentifier, const ClipboardUniformType& type) {
    auto found = ClipboardUniformType::withIdentifier(typeIdentifier);
    return found && *found == type;
}

// "com.example.private": dotted, no "/", no white space, a valid identifier.
bool isReverseDnsShaped(std::string_view name) {
    if (name.find('.') == std::string_view::npos || name.find('/') != std::string_view::npos)
        return false;
    if (name.front() == '.' || name.back() == '.')
        return false;
    if (std::ranges::any_of(name, [](char c) { return c == ' ' || c == '\t'; }))
        return false;
    return isValidClipboardTypeIdentifier(name);
}

std::string textOf(const DesktopClipboardValue& value) {
    if (const auto* text = std::get_if<std::string>(&value.value))
        return *text;
    const auto& bytes = std::get<Bytes>(value.value);
    return std::string(asText(bytes));
}

Bytes bytesOf(const DesktopClipboardValue& value) {
    if (const auto* bytes = std::get_if<Bytes>(&value.value))
        return *bytes;
    return toBytes(std::get<std::string>(value.value));
}

// The URLs that the clipboard's file-list formats name, in the order of the first format that has any.
std::vector<std::string> listedURLsOf(
    const std::vector<std::string>& formatNames,
    const std::function<std::optional<std::string>(std::string_view formatName)>& value) {
    for (auto mime : {ClipboardMimeMapping::uriListMimeType, ClipboardMimeMapping::copiedFilesMimeType}) {
        if (std::ranges::find(formatNames, mime) == formatNames.end())
            continue;
        auto text = value(mime);
        if (!text)
            continue;
        auto urls = ClipboardMimeMapping::listedURLs(mime, *text);
        if (!urls.empty())
            return urls;
    }
    return {};
}

}  // namespace

std::optional<std::string> ClipboardMimeMapping::mimeType(std::string_view typeIdentifier) {
    if (isType(typeIdentifier, ClipboardUniformType::utf8PlainText()) ||
        isType(typeIdentifier, ClipboardUniformType::plainText()))
        return std::string(utf8TextMimeType);
    if (isType(typeIdentifier, ClipboardUniformType::url()) ||
        isType(typeIdentifier, ClipboardUniformType::fileURL()))
        return std::string(uriListMimeType);
    if (auto type = ClipboardUniformType::withIdentifier(typeIdentifier)) {
        if (auto mime = type->preferredMimeType())
            return std::string(*mime);
    }
    if (isReverseDnsShaped(typeIdentifier))
        return std::string(typeIdentifier);
    return std::nullopt;
}

std::optional<std::string> ClipboardMimeMapping::typeIdentifier(std::string_view mimeType) {
    if (mimeType.empty())
        return std::nullopt;
    for (auto text : textFormats) {
        if (equalsIgnoringAsciiCase(mimeType, text))
            return std::string(ClipboardUniformType::utf8PlainText().identifier());
    }
    if (isFileListMimeType(mimeType))
        return std::string(ClipboardUniformType::fileURL().identifier());
    if (auto type = ClipboardUniformType::withMimeType(mimeType))
        return std::string(type->identifier());
    if (isReverseDnsShaped(mimeType))
        return std::string(mimeType);
    return std::nullopt;
}

bool ClipboardMimeMapping::isFileListMimeType(std::string_view mimeType) {
    return equalsIgnoringAsciiCase(mimeType, uriListMimeType) ||
           equalsIgnoringAsciiCase(mimeType, copiedFilesMimeType);
}

std::vector<DesktopClipboardFormat> ClipboardMimeMapping::merge(
    const std::vector<DesktopClipboardWriteItem>& items) {
    std::vector<DesktopClipboardFormat> formats;
    std::vector<std::string> fileURLs;
    std::optional<std::string> link;
    std::optional<std::size_t> fileListPosition;  // where the file formats go: where the first URL was

    auto hasFormat = [&](std::string_view mime) {
        return std::ranges::any_of(formats, [&](const auto& format) { return format.mimeType == mime; });
    };

    for (std::size_t itemIndex = 0; itemIndex < items.size(); ++itemIndex) {
        // Formats that this item has given so far: the first item keeps all of its own.
        std::vector<std::string> ownFormats;
        for (const auto& value : items[itemIndex].values) {
            if (isType(value.typeIdentifier, ClipboardUniformType::fileURL())) {
                fileURLs.push_back(textOf(value));
                if (!fileListPosition)
                    fileListPosition = formats.size();
                continue;
            }
            if (isType(value.typeIdentifier, ClipboardUniformType::url())) {
                if (!link)
                    link = textOf(value);
                if (!fileListPosition)
                    fileListPosition = formats.size();
                continue;
            }
            auto mime = mimeType(value.typeIdentifier);
            if (!mime || std::ranges::find(ownFormats, *mime) != ownFormats.end())
                continue;
            if (itemIndex > 0 && hasFormat(*mime))
                continue;
            ownFormats.push_back(*mime);
            formats.push_back({*mime, bytesOf(value)});
        }
    }

    std::vector<DesktopClipboardFormat> listFormats;
    if (!fileURLs.empty()) {
        std::string uriList;
        std::string copiedFiles = "copy";
        for (const auto& url : fileURLs) {
            uriList += url + "\r\n";
            copiedFiles += "\n" + url;
        }
        listFormats.push_back({std::string(uriListMimeType), toBytes(uriList)});
        listFormats.push_back({std::string(copiedFilesMimeType), toBytes(copiedFiles)});
    } else if (link) {
        listFormats.push_back({std::string(uriListMimeType), toBytes(*link + "\r\n")});
    }
    if (fileListPosition) {
        formats.insert(formats.begin() + static_cast<std::ptrdiff_t>(*fileListPosition), listFormats.begin(),
                       listFormats.end());
    }
    return formats;
}

std::vector<DesktopClipboardItemLayout> ClipboardMimeMapping::itemLayouts(
    const std::vector<std::string>& formatNames,
    const std::function<std::optional<std::string>(std::string_view formatName)>& value) {
    std::vector<std::string> fileURLs;
    std::optional<std::string> link;
    for (auto& url : listedURLsOf(formatNames, value)) {
        if (ClipboardURL::isFileURL(url))
            fileURLs.push_back(std::move(url));
        else if (!link && ClipboardURL::linkString(url))
            link = std::move(url);
    }

    std::vector<std::pair<std::string, std::string>> formats;
    for (const auto& name : formatNames) {
        auto type = typeIdentifier(name);
        if (!type)
            continue;
        if (isFileListMimeType(name)) {
            // The list formats are read above: its links travel as the URL type, its files as items.
            if (!link)
                continue;
            type = std::string(ClipboardUniformType::url().identifier());
        }
        if (std::ranges::any_of(formats, [&](const auto& entry) { return entry.first == *type; }))
            continue;
        formats.emplace_back(std::move(*type), name);
    }

    std::vector<DesktopClipboardItemLayout> items;
    if (fileURLs.empty()) {
        if (!formats.empty())
            items.push_back({std::nullopt, std::move(link), std::move(formats)});
        return items;
    }
    items.push_back({std::move(fileURLs.front()), std::move(link), std::move(formats)});
    for (std::size_t index = 1; index < fileURLs.size(); ++index)
        items.push_back({std::move(fileURLs[index]), std::nullopt, {}});
    return items;
}

std::vector<std::string> ClipboardMimeMapping::listedURLs(std::string_view mimeType, std::string_view value) {
    bool copiedFiles = equalsIgnoringAsciiCase(mimeType, copiedFilesMimeType);
    std::vector<std::string> urls;
    bool first = true;
    while (!value.empty() || first) {
        auto end = value.find('\n');
        auto line = value.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        bool verbLine = copiedFiles && first;
        first = false;
        if (!verbLine && !line.empty() && line.front() != '#')
            urls.emplace_back(line);
        if (end == std::string_view::npos)
            break;
        value.remove_prefix(end + 1);
    }
    return urls;
}

}  // namespace quillbridge
