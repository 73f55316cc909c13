#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "wire/PropertyListValue.hpp"

namespace quillbridge {

// A property list dictionary as a reader finds its entries: in the order the keys first appear, a repeated
// key keeping its first place and taking its last value.
class PropertyListDictionaryBuilder {
public:
    void reserve(std::size_t count) { entries_.reserve(count); }

    void set(std::string key, PropertyListValue value) {
        if (auto found = positions_.find(key); found != positions_.end()) {
            entries_[found->second].second = std::move(value);
        } else {
            positions_.emplace(key, entries_.size());
            entries_.emplace_back(std::move(key), std::move(value));
        }
    }

    PropertyListValue build() && { return PropertyListValue{std::move(entries_)}; }

private:
    PropertyListValue::Dictionary entries_;
    std::map<std::string, std::size_t, std::less<>> positions_;
};

}  // namespace quillbridge
