#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Uuid.hpp"
#include "pairing/DefaultsStore.hpp"
#include "pairing/P256SigningKey.hpp"
#include "pairing/SecretStore.hpp"
#include "wire/PairedPeerRecord.hpp"
#include "wire/PairingRole.hpp"

namespace quillbridge {

// What the host remembers between launches to recognise its headsets: its own peer identifier and the
// paired-peer list in the user defaults ("mac.localPeerID", "mac.pairedPeers"), and its long-term P-256
// signing key in the secret store (service "Quillbridge.signing-private-key", account "mac.signing-key").
// No cache: every operation reads the persisted state afresh. Both stores must outlive this one.
class PairedPeerStore {
public:
    static constexpr std::string_view signingKeyService = "Quillbridge.signing-private-key";

    PairedPeerStore(DefaultsStore& defaults, SecretStore& secrets, PairingRole role);

    // The stored identifier, or a new random one stored in place of a missing or malformed one.
    Uuid localPeerID();
    // The stored key; a new one (stored first) only when the secret store is sure there is none. Nothing
    // when the item cannot be read, does not hold a valid key, or a new key cannot be stored.
    std::optional<P256SigningKey> loadOrCreateSigningKey();

    // Sorted by name, ignoring case (and accents before anything else), stable for equal names. Empty when
    // nothing is stored or the stored list cannot be read.
    std::vector<PairedPeerRecord> allPeers() const;
    std::optional<PairedPeerRecord> peer(const Uuid& id) const;
    // Replaces the first record with the same id in place, else appends; saves at once.
    void upsert(const PairedPeerRecord& record);
    // Keeps every record with another id and saves at once, even when none matched.
    void removePeer(const Uuid& id);

    PairingRole role() const { return role_; }
    std::string localPeerIDKey() const { return name("localPeerID"); }
    std::string pairedPeersKey() const { return name("pairedPeers"); }
    std::string signingKeyAccount() const { return name("signing-key"); }
    // Where a stored peer list that cannot be read is copied before a save replaces it: this key, or when it
    // is taken by an earlier copy, this key followed by ".2", ".3", ...
    std::string unreadablePeersKey() const { return name("pairedPeers.unreadable"); }

    // Whether name `left` sorts before name `right` in the peer list.
    static bool namePrecedes(std::string_view left, std::string_view right);

private:
    struct LoadedPeers {
        std::vector<PairedPeerRecord> peers;
        // The stored value, when there is one that does not decode as a peer list.
        std::optional<DefaultsValue> unreadable;
    };

    std::string name(std::string_view suffix) const;
    static std::vector<PairedPeerRecord> sortedByName(std::vector<PairedPeerRecord> peers);
    LoadedPeers loadPeers() const;
    // Saves `peers`, first copying an unreadable stored list aside; saves nothing if that copy fails.
    void saveReplacing(const LoadedPeers& loaded, const std::vector<PairedPeerRecord>& peers);
    void save(const std::vector<PairedPeerRecord>& peers);
    bool backUpUnreadable(const DefaultsValue& value);

    DefaultsStore& defaults_;
    SecretStore& secrets_;
    PairingRole role_;
};

}  // namespace quillbridge
