#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "pairing/SecretStore.hpp"

namespace quillbridge {

// In-memory secret store for tests, with switches that make reads or writes fail with a given error.
class FakeSecretStore final : public SecretStore {
public:
    ReadResult read(std::string_view service, std::string_view account) override {
        std::lock_guard lock(mutex_);
        ++readCount_;
        if (readFailure)
            return std::unexpected(*readFailure);
        auto found = items_.find(Key(service, account));
        if (found == items_.end())
            return std::optional<SecretBytes>{};
        return std::optional<SecretBytes>{SecretBytes(ByteView(found->second))};
    }

    WriteResult write(std::string_view service, std::string_view account, ByteView secret) override {
        std::lock_guard lock(mutex_);
        ++writeCount_;
        if (writeFailure)
            return std::unexpected(*writeFailure);
        items_.insert_or_assign(Key(service, account), Bytes(secret.begin(), secret.end()));
        return {};
    }

    // Direct access for arranging and inspecting a test; not counted as reads or writes.
    std::optional<Bytes> item(std::string_view service, std::string_view account) const {
        std::lock_guard lock(mutex_);
        auto found = items_.find(Key(service, account));
        if (found == items_.end())
            return std::nullopt;
        return found->second;
    }
    void setItem(std::string_view service, std::string_view account, Bytes secret) {
        std::lock_guard lock(mutex_);
        items_.insert_or_assign(Key(service, account), std::move(secret));
    }
    std::size_t itemCount() const {
        std::lock_guard lock(mutex_);
        return items_.size();
    }
    int readCount() const {
        std::lock_guard lock(mutex_);
        return readCount_;
    }
    int writeCount() const {
        std::lock_guard lock(mutex_);
        return writeCount_;
    }

    std::optional<SecretStoreError> readFailure;
    std::optional<SecretStoreError> writeFailure;

private:
    using Key = std::pair<std::string, std::string>;

    mutable std::mutex mutex_;
    std::map<Key, Bytes> items_;
    int readCount_ = 0;
    int writeCount_ = 0;
};

}  // namespace quillbridge
