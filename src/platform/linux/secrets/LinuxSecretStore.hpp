#pragma once

#include <filesystem>
#include <memory>

#include "pairing/SecretStore.hpp"

namespace quillbridge {

// Picks where this user's secrets live and logs the choice once. The first run picks the Secret Service
// when one answers on the session bus, else files (FileSecretStore), and writes the choice to the file
// "secret-backend" in the application's data folder. Later runs keep that choice, so that a missing
// backend never looks like a missing secret (which would make the host create a new signing key and break
// every pairing): when the recorded Secret Service does not answer, every read and write fails with
// `unavailable` instead.
struct LinuxSecretStore {
    // $XDG_DATA_HOME/quillbridge (~/.local/share/quillbridge).
    static std::filesystem::path defaultDataDirectory();
    static std::unique_ptr<SecretStore> open() { return open(defaultDataDirectory(), true); }
    // `useSecretService` false never tries the session bus (for tests and for hosts without one).
    static std::unique_ptr<SecretStore> open(const std::filesystem::path& dataDirectory,
                                             bool useSecretService);
};

}  // namespace quillbridge
