#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/Bytes.hpp"

namespace quillbridge {

// One stored setting: text, a whole number, a flag or raw bytes.
using DefaultsValue = std::variant<std::string, std::int64_t, bool, Bytes>;

// The host's persistent key-value settings ("mac.localPeerID", "mac.pairedPeers",
// "enablePeerToPeerConnections", ...). Values keep their kind: reading a key as another kind than it was
// written with gives nothing. Implementations are safe to call from several threads; a write that cannot
// be made durable reports false and leaves the previous value in place.
class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;

    virtual std::optional<DefaultsValue> value(std::string_view key) const = 0;
    virtual bool setValue(std::string_view key, DefaultsValue value) = 0;
    virtual bool removeValue(std::string_view key) = 0;

    std::optional<std::string> string(std::string_view key) const { return typed<std::string>(key); }
    std::optional<std::int64_t> integer(std::string_view key) const { return typed<std::int64_t>(key); }
    std::optional<bool> boolean(std::string_view key) const { return typed<bool>(key); }
    std::optional<Bytes> data(std::string_view key) const { return typed<Bytes>(key); }

    bool setString(std::string_view key, std::string text) { return setValue(key, std::move(text)); }
    bool setInteger(std::string_view key, std::int64_t number) { return setValue(key, number); }
    bool setBoolean(std::string_view key, bool flag) { return setValue(key, flag); }
    bool setData(std::string_view key, Bytes bytes) { return setValue(key, std::move(bytes)); }

private:
    template <typename T>
    std::optional<T> typed(std::string_view key) const {
        auto stored = value(key);
        if (!stored)
            return std::nullopt;
        if (auto* item = std::get_if<T>(&*stored))
            return std::move(*item);
        return std::nullopt;
    }
};

}  // namespace quillbridge
