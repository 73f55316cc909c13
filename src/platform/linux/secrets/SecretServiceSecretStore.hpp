#pragma once

#include <memory>
#include <mutex>

#include "pairing/SecretStore.hpp"

namespace quillbridge {

// Secrets in the freedesktop Secret Service (GNOME Keyring, KeePassXC, ...) through libsecret. Items carry
// the attributes "service" and "account" under the schema "org.quillbridge.Secret". The store never
// unlocks and never prompts:
// - a read that finds only locked items, or finds nothing while the default collection is locked, fails
//   with interactionRequired (a locked collection hides its items, so "not found" could be wrong);
// - a write goes to an existing unlocked item, else into the default collection if it is unlocked; a
//   locked or missing default collection fails (unlocking or creating one would need the user).
class SecretServiceSecretStore final : public SecretStore {
public:
    // Connects to the Secret Service on the session bus and opens a session. Nothing when no session bus is
    // configured (no autolaunch is attempted) or no Secret Service answers.
    static std::unique_ptr<SecretServiceSecretStore> connect();

    ~SecretServiceSecretStore() override;
    SecretServiceSecretStore(const SecretServiceSecretStore&) = delete;
    SecretServiceSecretStore& operator=(const SecretServiceSecretStore&) = delete;

    ReadResult read(std::string_view service, std::string_view account) override;
    WriteResult write(std::string_view service, std::string_view account, ByteView secret) override;

    // Locks the default collection (no prompt is needed for that). For tests of the locked case.
    bool lockDefaultCollection();
    // Asks the service to unlock the default collection, as a program that may prompt would. The store
    // refuses every prompt, so this fails with interactionRequired whenever unlocking needs the user. For
    // tests of the no-prompt rule.
    WriteResult unlockDefaultCollection();

private:
    struct Connection;
    explicit SecretServiceSecretStore(std::unique_ptr<Connection> connection);

    std::unique_ptr<Connection> connection_;
    std::mutex mutex_;
};

}  // namespace quillbridge
