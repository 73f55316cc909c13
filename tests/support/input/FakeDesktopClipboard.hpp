#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/Bytes.hpp"
#include "input/DesktopClipboard.hpp"

namespace quillbridge {

// A desktop clipboard in memory, holding items of typed values. A value written as text reads back as
// text and as its UTF-8 bytes; a value written as bytes reads back as bytes and as text. Each item
// counts the values read from it, so tests can see what a capture did not read.
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
        std::vector<Item> written;
        for (const auto& item : items) {
            Item entries;
            for (const auto& value : item.values)
                entries.push_back({value.typeIdentifier, value.value});
            written.push_back(std::move(entries));
        }
        contents = std::move(written);
        return true;
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
