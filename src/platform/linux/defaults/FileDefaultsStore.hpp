#pragma once

#include <filesystem>
#include <memory>
#include <mutex>

#include "core/Json.hpp"
#include "pairing/DefaultsStore.hpp"

namespace quillbridge {

// The user defaults on Linux: one JSON file, by default $XDG_CONFIG_HOME/quillbridge/defaults.json
// (~/.config/quillbridge/defaults.json). It is read once when the store is made and rewritten whole,
// atomically, on every change. Text, integers and flags are plain JSON values; data is {"data": Base64}.
// Entries of any other form are kept as they are and read as nothing.
//
// One store per file and process: the store keeps the file's content in memory and does not notice
// changes made to the file behind its back.
//
// Writes block on the disk (write, fsync, rename): make them through a BlockingWorkPool, never on a strand.
// Reads never wait for a write in progress: they see the previous value until the new one is durable.
class FileDefaultsStore final : public DefaultsStore {
public:
    // A file larger than this is not read (it is set aside like an unreadable one).
    static constexpr std::size_t maximumFileByteCount = 16 << 20;

    static std::filesystem::path defaultLocation();
    static std::unique_ptr<FileDefaultsStore> openDefault();

    // A file that exists but cannot be read or parsed is renamed to "<file>.unreadable-<seconds>" (and
    // logged) so that the first write does not destroy it; the store then starts empty.
    explicit FileDefaultsStore(std::filesystem::path file);

    std::optional<DefaultsValue> value(std::string_view key) const override;
    bool setValue(std::string_view key, DefaultsValue value) override;
    bool removeValue(std::string_view key) override;

    const std::filesystem::path& file() const { return file_; }

private:
    bool persist(const Json& document);
    Json currentDocument() const;
    void replaceDocument(Json document);

    std::filesystem::path file_;
    // Held by a writer for the whole change, file included: writes are made one at a time, in order.
    std::mutex writeMutex_;
    // Guards document_ only while it is read or replaced, never across file operations.
    mutable std::mutex mutex_;
    Json document_;
};

}  // namespace quillbridge
