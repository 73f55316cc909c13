#pragma once

#include "input/DesktopClipboard.hpp"

namespace quillbridge {

// The desktop clipboard on Qt's QClipboard (the X11 CLIPBOARD selection). Use it on the GUI thread only,
// through the main actor.
//
// Reading: the clipboard's one item is shown as items the way the headset knows them
// (ClipboardMimeMapping::itemLayouts): each local file in "text/uri-list" (or "x-special/gnome-copied-files")
// becomes an item of its own holding its file URL; the first item also holds every other format, mapped to
// uniform types (formats with no uniform type are left out). Without files there is one item. Values are
// fetched from the clipboard when they are read, never kept.
//
// Writing: the items are merged into one (ClipboardMimeMapping::merge) and offered with setMimeData.
// Text is offered as Qt's text (so X11 clients find UTF8_STRING and text/plain too). A write that leaves no
// format to offer is refused.
class QtDesktopClipboard final : public DesktopClipboard {
public:
    std::optional<std::vector<std::unique_ptr<DesktopClipboardItem>>> items() override;
    bool write(std::vector<DesktopClipboardWriteItem> items) override;
};

}  // namespace quillbridge
