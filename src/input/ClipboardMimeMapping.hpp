#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Bytes.hpp"
#include "input/DesktopClipboard.hpp"

namespace quillbridge {

// One format of the desktop clipboard: a MIME type (or another target name) and its bytes.
struct DesktopClipboardFormat {
    std::string mimeType;
    Bytes data;

    bool operator==(const DesktopClipboardFormat&) const = default;
};

// One item of the desktop clipboard as the headset knows it (see itemLayouts()).
struct DesktopClipboardItemLayout {
    // The local file the item stands for.
    std::optional<std::string> fileURL;
    // The web link of the clipboard's URL list, given as the URL type.
    std::optional<std::string> link;
    // Each uniform type with the first desktop format that gives it, in clipboard order.
    std::vector<std::pair<std::string, std::string>> formats;

    bool operator==(const DesktopClipboardItemLayout&) const = default;
};

// How the clipboard's uniform types meet the desktop clipboard's MIME formats. The MIME types come from the
// wire's type table (ClipboardUniformType); this class adds only what the desktop does differently:
//
// - Text is UTF-8: "text/plain" and "text/plain;charset=utf-8" (and the X11 text targets) all read as the
//   clipboard's string type, which is offered as "text/plain;charset=utf-8".
// - Files travel as "text/uri-list" (one file URL per line) together with "x-special/gnome-copied-files"
//   ("copy" and then the same URLs, one per line), which file managers paste.
// - A link (the URL type) is offered as "text/uri-list" when no file is.
// - A type without a MIME type whose identifier is reverse-DNS shaped ("com.example.private") is offered
//   under its own identifier, and read back as it.
//
// The X11 clipboard holds one item with several formats, while the headset sends up to 16 items. The items
// are merged into one: the first item is kept whole, in its own order; every file item adds its file URL
// to the file list; a later item adds a value only in a format that no earlier item has given. Read back,
// the one item shows as the headset knows items: each local file of the file list becomes an item of its
// own holding its file URL; the first item also holds every other format (formats with no uniform type
// left out) and, as the URL type, the list's first web link. Without files there is one item.
class ClipboardMimeMapping {
public:
    static constexpr std::string_view utf8TextMimeType = "text/plain;charset=utf-8";
    static constexpr std::string_view uriListMimeType = "text/uri-list";
    static constexpr std::string_view copiedFilesMimeType = "x-special/gnome-copied-files";

    // The format a value of this type is offered in; nothing for a type the desktop cannot carry.
    static std::optional<std::string> mimeType(std::string_view typeIdentifier);

    // The uniform type of a desktop format; nothing for formats that have none (the desktop's own
    // targets, unknown MIME types). The file formats read as the file-URL type.
    static std::optional<std::string> typeIdentifier(std::string_view mimeType);

    // Whether the format is one of those that list files.
    static bool isFileListMimeType(std::string_view mimeType);

    // The one desktop item that stands for these items, as formats in order (see the merge rule above).
    static std::vector<DesktopClipboardFormat> merge(const std::vector<DesktopClipboardWriteItem>& items);

    // The items that the clipboard's one item stands for (see the rule above), from its format names in
    // clipboard order. `value` gives a format's bytes as text, or nothing; only the file-list formats are
    // read.
    static std::vector<DesktopClipboardItemLayout> itemLayouts(
        const std::vector<std::string>& formatNames,
        const std::function<std::optional<std::string>(std::string_view formatName)>& value);

    // The file URLs that a "text/uri-list" or "x-special/gnome-copied-files" value lists (comments, blank
    // lines and the "copy"/"cut" verb left out), in order.
    static std::vector<std::string> listedURLs(std::string_view mimeType, std::string_view value);
};

}  // namespace quillbridge
