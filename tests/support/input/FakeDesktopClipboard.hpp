#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/Bytes.hpp"
#include "input/ClipboardMimeMapping.hpp"
#include "input/DesktopClipboard.hpp"
#include "wire/ClipboardUniformType.hpp"

namespace quillbridge {

// A desktop clipboard in memory that keeps what is written as the X11 clipboard adapter (QtDesktopClipboard)
// does: the written items are merged into the one item of formats the X11 clipboard holds
// (ClipboardMimeMapping::merge), a write that leaves no format is refused, and reading shows that item the
// way the adapter shows it (ClipboardMimeMapping::itemLayouts): one item per file, the first also with every
// other format. Tests of a capture may also set `contents` to any items, as another desktop could report
// them.
//
// A value held as text reads back as text and as its UTF-8 bytes; a value held as bytes reads back as bytes
// and as text. Each item counts the values read from it, so tests can see what a capture did not read.
class FakeDesktopClipboard final : public DesktopClipboard {
public:
    using Value = std::variant<std::string, Bytes>;
    struct Entry {
        std::string typeIdentifier;
        Value value;
    };
    using Item = std::vector<Entry>;

    // The clipboard's items; nothing makes items() report none.
    std::optional<std::vector<Item>> contents = std::vector<Item>{};
    // When set, write() refuses and leaves the contents alone.
    bool refusesWrites = false;
    // Every write that reached the clipboard (refused ones too), in order.
    std::vector<std::vector<DesktopClipboardWriteItem>> writes;
    // Values read by type identifier, over all items.
    std::shared_ptr<std::map<std::string, int>> readCounts = std::make_shared<std::map<std::string, int>>();

    std::optional<std::vector<std::unique_ptr<DesktopClipboardItem>>> items() override {
        if (!contents)
            return std::nullopt;
        std::vector<std::unique_ptr<DesktopClipboardItem>> result;
        for (const auto& item : *contents)
            result.push_back(std::make_unique<ItemReader>(item, readCounts));
        return result;
    }

    bool write(std::vector<DesktopClipboardWriteItem> items) override {
        writes.push_back(items);
        if (refusesWrites)
            return false;
        auto formats = ClipboardMimeMapping::merge(items);
        if (formats.empty())
            return false;
        contents = itemsShowing(formats);
        return true;
    }

    // The items the adapter shows for the X11 clipboard holding these formats.
    static std::vector<Item> itemsShowing(const std::vector<DesktopClipboardFormat>& formats) {
        std::vector<std::string> names;
        for (const auto& format : formats)
            names.push_back(format.mimeType);
        auto value = [&](std::string_view name) -> std::optional<std::string> {
            for (const auto& format : formats) {
                if (format.mimeType == name)
                    return std::string(asText(format.data));
            }
            return std::nullopt;
        };
        const auto urlType = ClipboardUniformType::url().identifier();
        const auto textType = ClipboardUniformType::utf8PlainText().identifier();
        std::vector<Item> items;
        for (const auto& layout : ClipboardMimeMapping::itemLayouts(names, value)) {
            Item entries;
            if (layout.fileURL)
                entries.push_back(
                    {std::string(ClipboardUniformType::fileURL().identifier()), *layout.fileURL});
            for (const auto& [type, name] : layout.formats) {
                if (type == urlType)
                    entries.push_back({type, *layout.link});
                else if (type == textType)
                    entries.push_back({type, *value(name)});
                else
                    entries.push_back({type, toBytes(*value(name))});
            }
            items.push_back(std::move(entries));
        }
        return items;
    }

private:
    class ItemReader final : public DesktopClipboardItem {
    public:
        ItemReader(Item item, std::shared_ptr<std::map<std::string, int>> counts)
            : item_(std::move(item)), counts_(std::move(counts)) {}

        std::vector<std::string> types() const override {
            std::vector<std::string> types;
            for (const auto& entry : item_)
                types.push_back(entry.typeIdentifier);
            return types;
        }
        std::optional<std::string> string(std::string_view type) const override {
            const auto* entry = find(type);
            if (!entry)
                return std::nullopt;
            if (const auto* text = std::get_if<std::string>(&entry->value))
                return *text;
            return std::string(asText(std::get<Bytes>(entry->value)));
        }
        std::optional<Bytes> data(std::string_view type) const override {
            const auto* entry = find(type);
            if (!entry)
                return std::nullopt;
            if (const auto* bytes = std::get_if<Bytes>(&entry->value))
                return *bytes;
            return toBytes(std::get<std::string>(entry->value));
        }

    private:
        const Entry* find(std::string_view type) const {
            for (const auto& entry : item_) {
                if (entry.typeIdentifier == type) {
                    ++(*counts_)[entry.typeIdentifier];
                    return &entry;
                }
            }
            return nullptr;
        }

        Item item_;
        std::shared_ptr<std::map<std::string, int>> counts_;
    };
};

}  // namespace quillbridge
