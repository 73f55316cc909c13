#pragma once

#include <filesystem>
#include <mutex>

#include "pairing/SecretStore.hpp"

namespace quillbridge {

// Secrets as files when no Secret Service answers: one file per item, named after its service and account,
// in a directory only this user can enter (0700), each file 0600 and written atomically. By default the
// directory is $XDG_DATA_HOME/quillbridge/secrets (~/.local/share/quillbridge/secrets).
class FileSecretStore final : public SecretStore {
public:
    static std::filesystem::path defaultDirectory();

    explicit FileSecretStore(std::filesystem::path directory);

    ReadResult read(std::string_view service, std::string_view account) override;
    WriteResult write(std::string_view service, std::string_view account, ByteView secret) override;

    const std::filesystem::path& directory() const { return directory_; }
    // The item's file: service and account with every byte outside [A-Za-z0-9._-] written as %XX, joined
    // by "@".
    std::filesystem::path itemPath(std::string_view service, std::string_view account) const;

private:
    std::filesystem::path directory_;
    std::mutex mutex_;
};

}  // namespace quillbridge
