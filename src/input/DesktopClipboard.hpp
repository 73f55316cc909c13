#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/Bytes.hpp"

namespace quillbridge {

// One item of the desktop clipboard as it is being read. Its types are uniform type identifiers (the
// adapter maps the desktop's own format names to them). Values are read on demand, so a capture reads only
// the types it keeps.
class DesktopClipboardItem {
public:
    virtual ~DesktopClipboardItem() = default;

    // The item's types, in the order the clipboard lists them.
    virtual std::vector<std::string> types() const = 0;
    // The value of a type as text; nothing when the item cannot give it as text.
    virtual std::optional<std::string> string(std::string_view typeIdentifier) const = 0;
    // The value of a type as bytes; nothing when the item cannot give it.
    virtual std::optional<Bytes> data(std::string_view typeIdentifier) const = 0;
};

// One value of an item to write: text for the string, URL and file-URL types, bytes for every other type.
struct DesktopClipboardValue {
    std::string typeIdentifier;
    std::variant<std::string, Bytes> value;

    bool operator==(const DesktopClipboardValue&) const = default;
};

// One item to write, its values in order.
struct DesktopClipboardWriteItem {
    std::vector<DesktopClipboardValue> values;

    bool operator==(const DesktopClipboardWriteItem&) const = default;
};

// The desktop's general clipboard. Every call is made on the main actor (the user interface thread).
class DesktopClipboard {
public:
    virtual ~DesktopClipboard() = default;

    // The items now on the clipboard, in order; nothing when the clipboard cannot report them.
    virtual std::optional<std::vector<std::unique_ptr<DesktopClipboardItem>>> items() = 0;
    // Replaces the clipboard's contents with these items; false when the clipboard refused them.
    virtual bool write(std::vector<DesktopClipboardWriteItem> items) = 0;
};

}  // namespace quillbridge
