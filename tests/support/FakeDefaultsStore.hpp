#pragma once

#include <map>
#include <mutex>
#include <string>

#include "pairing/DefaultsStore.hpp"

namespace quillbridge {

// In-memory user defaults for tests. `failWrites` makes every write report failure and change nothing.
class FakeDefaultsStore final : public DefaultsStore {
public:
    std::optional<DefaultsValue> value(std::string_view key) const override {
        std::lock_guard lock(mutex_);
        auto found = values_.find(key);
        if (found == values_.end())
            return std::nullopt;
        return found->second;
    }

    bool setValue(std::string_view key, DefaultsValue value) override {
        std::lock_guard lock(mutex_);
        ++writeCount_;
        if (failWrites)
            return false;
        values_.insert_or_assign(std::string(key), std::move(value));
        return true;
    }

    bool removeValue(std::string_view key) override {
        std::lock_guard lock(mutex_);
        ++writeCount_;
        if (failWrites)
            return false;
        if (auto found = values_.find(key); found != values_.end())
            values_.erase(found);
        return true;
    }

    int writeCount() const {
        std::lock_guard lock(mutex_);
        return writeCount_;
    }

    bool failWrites = false;

private:
    mutable std::mutex mutex_;
    std::map<std::string, DefaultsValue, std::less<>> values_;
    int writeCount_ = 0;
};

}  // namespace quillbridge
