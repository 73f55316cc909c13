#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "input/KeyboardInputSourcePort.hpp"

namespace quillbridge {

// A list of input sources with one current; selecting one makes it current. `selectStatus` makes selection
// fail.
class FakeKeyboardInputSourcePort final : public KeyboardInputSourcePort {
public:
    bool romanSwitch = false;
    std::vector<KeyboardInputSource> sources;
    std::optional<std::string> currentID;
    int selectStatus = 0;
    std::vector<std::string> selections;

    static KeyboardInputSource latin(std::string id, std::vector<std::string> languages = {"en"}) {
        return KeyboardInputSource{std::move(id), std::move(languages), true};
    }
    static KeyboardInputSource nonLatin(std::string id, std::vector<std::string> languages) {
        return KeyboardInputSource{std::move(id), std::move(languages), false};
    }

    bool capsLockSwitchesInputSource() override { return romanSwitch; }
    std::optional<KeyboardInputSource> currentKeyboardInputSource() override {
        std::lock_guard lock(mutex_);
        return find(currentID);
    }
    std::vector<KeyboardInputSource> enabledInputSources() override {
        std::lock_guard lock(mutex_);
        std::vector<KeyboardInputSource> enabled;
        for (const auto& source : sources) {
            if (source.isEnabled)
                enabled.push_back(source);
        }
        return enabled;
    }
    std::optional<KeyboardInputSource> currentASCIICapableKeyboardInputSource() override {
        std::lock_guard lock(mutex_);
        for (const auto& source : sources) {
            if (source.isASCIICapable && source.isEnabled)
                return source;
        }
        return std::nullopt;
    }
    int selectInputSource(const std::string& id) override {
        std::lock_guard lock(mutex_);
        selections.push_back(id);
        if (selectStatus != 0)
            return selectStatus;
        currentID = id;
        return 0;
    }

private:
    std::optional<KeyboardInputSource> find(const std::optional<std::string>& id) const {
        if (!id)
            return std::nullopt;
        for (const auto& source : sources) {
            if (source.inputSourceID == *id)
                return source;
        }
        return std::nullopt;
    }

    std::mutex mutex_;
};

}  // namespace quillbridge
