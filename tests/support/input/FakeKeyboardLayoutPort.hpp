#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include "input/KeyboardLayoutPort.hpp"

namespace quillbridge {

// A layout given as a table: (key, modifier state) -> translation. Keys not in the table translate to
// nothing. `hasLayout` false means no layout can be read. Records the keyboard type of the last translation.
class FakeKeyboardLayoutPort final : public KeyboardLayoutPort {
public:
    bool hasLayout = true;
    std::map<std::pair<RemoteKeyboardKey, std::uint32_t>, KeyTranslation> table;
    MacKeyboardInputSourceIdentity identity;
    std::uint32_t keyboardType = 0;
    RemoteKeyboardPhysicalLayout layoutClass = RemoteKeyboardPhysicalLayout::ansi;
    std::optional<std::uint32_t> lastTranslationKeyboardType;

    void set(RemoteKeyboardKey key, std::uint32_t state, std::optional<std::string> text, bool dead = false) {
        table[{key, state}] = KeyTranslation{std::move(text), dead};
    }

    std::unique_ptr<KeyboardLayout> currentLayout() override {
        if (!hasLayout)
            return nullptr;
        return std::make_unique<Layout>(*this);
    }
    MacKeyboardInputSourceIdentity currentLayoutIdentity() override { return identity; }
    std::uint32_t hardwareKeyboardType() override { return keyboardType; }
    RemoteKeyboardPhysicalLayout physicalLayout(std::uint32_t) override { return layoutClass; }

private:
    class Layout final : public KeyboardLayout {
    public:
        explicit Layout(FakeKeyboardLayoutPort& port) : port_(port) {}
        KeyTranslation translate(RemoteKeyboardKey key, std::uint16_t, std::uint32_t state,
                                 std::uint32_t type) override {
            port_.lastTranslationKeyboardType = type;
            auto found = port_.table.find({key, state});
            return found == port_.table.end() ? KeyTranslation{} : found->second;
        }

    private:
        FakeKeyboardLayoutPort& port_;
    };
};

}  // namespace quillbridge
