#include "pairing/PairedPeerStore.hpp"

#include <gtest/gtest.h>

#include "core/Json.hpp"
#include "core/Logger.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/FakeSecretStore.hpp"

namespace quillbridge {
namespace {

PairedPeerRecord record(const char* name, std::uint8_t idByte) {
    Uuid id;
    id.bytes.fill(idByte);
    return PairedPeerRecord{id, name, Bytes(64, idByte), std::nullopt, std::nullopt};
}

std::vector<std::string> names(const std::vector<PairedPeerRecord>& peers) {
    std::vector<std::string> result;
    for (const auto& peer : peers)
        result.push_back(peer.name);
    return result;
}

class PairedPeerStoreTests : public ::testing::Test {
protected:
    void storeList(const std::vector<PairedPeerRecord>& peers) {
        defaults.setData("mac.pairedPeers", toBytes(*encodeJson(peers)));
    }
    std::vector<PairedPeerRecord> storedList() {
        auto data = defaults.data("mac.pairedPeers");
        if (!data)
            return {};
        return *decodeJson<std::vector<PairedPeerRecord>>(asText(*data));
    }

    FakeDefaultsStore defaults;
    FakeSecretStore secrets;
    PairedPeerStore store{defaults, secrets, PairingRole::mac};
    ScopedLogCapture logs;
};

TEST_F(PairedPeerStoreTests, NamesCarryTheRolePrefix) {
    EXPECT_EQ(store.localPeerIDKey(), "mac.localPeerID");
    EXPECT_EQ(store.pairedPeersKey(), "mac.pairedPeers");
    EXPECT_EQ(store.signingKeyAccount(), "mac.signing-key");
    PairedPeerStore headset(defaults, secrets, PairingRole::visionPro);
    EXPECT_EQ(headset.pairedPeersKey(), "visionPro.pairedPeers");
}

TEST_F(PairedPeerStoreTests, LocalPeerIdentifierIsCreatedOnceAndMalformedOnesAreReplaced) {
    Uuid first = store.localPeerID();
    EXPECT_EQ(defaults.string("mac.localPeerID"), first.string());
    EXPECT_EQ(store.localPeerID(), first);
    EXPECT_EQ(PairedPeerStore(defaults, secrets, PairingRole::mac).localPeerID(), first);

    // Read in either case.
    std::string lower = first.string();
    for (auto& character : lower)
        character = static_cast<char>(std::tolower(character));
    defaults.setString("mac.localPeerID", lower);
    EXPECT_EQ(store.localPeerID(), first);

    defaults.setString("mac.localPeerID", "not-a-uuid");
    Uuid replacement = store.localPeerID();
    EXPECT_NE(replacement, first);
    EXPECT_EQ(defaults.string("mac.localPeerID"), replacement.string());
}

TEST_F(PairedPeerStoreTests, SigningKeyIsCreatedWhenMissingAndReusedAfterwards) {
    auto created = store.loadOrCreateSigningKey();
    ASSERT_TRUE(created);
    auto item = secrets.item("Quillbridge.signing-private-key", "mac.signing-key");
    ASSERT_TRUE(item);
    EXPECT_EQ(*item, created->rawRepresentation());

    auto again = PairedPeerStore(defaults, secrets, PairingRole::mac).loadOrCreateSigningKey();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->rawRepresentation(), created->rawRepresentation());
    EXPECT_EQ(secrets.writeCount(), 1);
}

TEST_F(PairedPeerStoreTests, AnUnusableSigningKeyItemGivesNoKeyAndNoNewKey) {
    secrets.setItem("Quillbridge.signing-private-key", "mac.signing-key", Bytes(32, 0));
    EXPECT_FALSE(store.loadOrCreateSigningKey());
    EXPECT_FALSE(store.loadOrCreateSigningKey());
    EXPECT_EQ(secrets.writeCount(), 0);
    EXPECT_EQ(secrets.item("Quillbridge.signing-private-key", "mac.signing-key"), Bytes(32, 0));
    EXPECT_EQ(logs.messages("PairedPeerStore"),
              (std::vector<std::string>{"The stored signing private key is invalid",
                                        "The stored signing private key is invalid"}));

    logs.clear();
    secrets.readFailure = SecretStoreError::interactionRequired;
    EXPECT_FALSE(store.loadOrCreateSigningKey());
    EXPECT_EQ(secrets.writeCount(), 0);
    EXPECT_EQ(logs.messages("PairedPeerStore"),
              std::vector<std::string>{"Unable to read the signing private key from the keychain: 1"});
}

TEST_F(PairedPeerStoreTests, ANewKeyThatCannotBeStoredIsDropped) {
    secrets.writeFailure = SecretStoreError::unavailable;
    EXPECT_FALSE(store.loadOrCreateSigningKey());
    EXPECT_EQ(secrets.itemCount(), 0u);
    EXPECT_EQ(logs.messages("PairedPeerStore"),
              std::vector<std::string>{"Failed to persist the signing private key to the keychain; existing "
                                       "pairings will break on relaunch"});
}

TEST_F(PairedPeerStoreTests, PeersSortByNameIgnoringCaseAndKeepStoredOrderForEqualNames) {
    storeList({record("zed", 1), record("Bravo", 2), record("bravo", 3), record("alpha", 4),
               record("Émile", 5), record("BRAVO", 6)});
    EXPECT_EQ(names(store.allPeers()),
              (std::vector<std::string>{"alpha", "Bravo", "bravo", "BRAVO", "Émile", "zed"}));
    storeList({record("bravo", 3), record("Bravo", 2), record("Charlie", 7)});
    EXPECT_EQ(names(store.allPeers()), (std::vector<std::string>{"bravo", "Bravo", "Charlie"}));
    EXPECT_EQ(store.peer(record("", 7).id)->name, "Charlie");
    EXPECT_FALSE(store.peer(record("", 9).id));
}

TEST_F(PairedPeerStoreTests, UpsertReplacesInPlaceOrAppendsAndRemoveAlwaysSaves) {
    storeList({record("delta", 1), record("alpha", 2)});

    auto renamed = record("zulu", 2);
    renamed.lastSeenAt = Date{5};
    store.upsert(renamed);
    // Saved in sorted order with the replacement where the old record stood.
    EXPECT_EQ(names(storedList()), (std::vector<std::string>{"zulu", "delta"}));
    EXPECT_EQ(store.peer(renamed.id)->lastSeenAt, Date{5});

    // A new record goes at the end of the list as loaded (sorted); it is sorted again when next loaded.
    store.upsert(record("bravo", 3));
    EXPECT_EQ(names(storedList()), (std::vector<std::string>{"delta", "zulu", "bravo"}));
    EXPECT_EQ(names(store.allPeers()), (std::vector<std::string>{"bravo", "delta", "zulu"}));

    int writes = defaults.writeCount();
    store.removePeer(record("", 9).id);
    EXPECT_EQ(defaults.writeCount(), writes + 1);
    EXPECT_EQ(names(storedList()), (std::vector<std::string>{"bravo", "delta", "zulu"}));
    store.removePeer(record("", 1).id);
    EXPECT_EQ(names(store.allPeers()), (std::vector<std::string>{"bravo", "zulu"}));
}

TEST_F(PairedPeerStoreTests, AnUnreadablePeerListReadsAsEmptyAndIsKeptBeforeItIsReplaced) {
    const DefaultsValue unreadable[] = {
        toBytes("{\"not\":\"a list\"}"),
        toBytes("[{\"id\":\"nope\"}]"),
        toBytes("\xff\xfe"),
        std::string("a string where data belongs"),
    };
    for (const auto& value : unreadable) {
        FakeDefaultsStore defaults;
        PairedPeerStore store(defaults, secrets, PairingRole::mac);
        defaults.setValue("mac.pairedPeers", value);
        EXPECT_TRUE(store.allPeers().empty());
        EXPECT_FALSE(defaults.value("mac.pairedPeers.unreadable"));
        EXPECT_EQ(defaults.value("mac.pairedPeers"), value);

        store.upsert(record("alpha", 1));
        EXPECT_EQ(defaults.value("mac.pairedPeers.unreadable"), value);
        EXPECT_EQ(names(store.allPeers()), std::vector<std::string>{"alpha"});

        // The list reads again: later saves make no further copies.
        store.removePeer(record("", 1).id);
        EXPECT_FALSE(defaults.value("mac.pairedPeers.unreadable.2"));
    }
}

TEST_F(PairedPeerStoreTests, AnEarlierCopyOfAnUnreadableListIsNeverOverwritten) {
    defaults.setData("mac.pairedPeers.unreadable", toBytes("first"));
    defaults.setData("mac.pairedPeers", toBytes("second"));
    store.upsert(record("alpha", 1));
    EXPECT_EQ(defaults.data("mac.pairedPeers.unreadable"), toBytes("first"));
    EXPECT_EQ(defaults.data("mac.pairedPeers.unreadable.2"), toBytes("second"));
    EXPECT_EQ(logs.messages("PairedPeerStore").size(), 1u);
}

TEST_F(PairedPeerStoreTests, AnUnreadableListIsNotReplacedWhenItCannotBeKept) {
    defaults.setData("mac.pairedPeers", toBytes("garbage"));
    defaults.failWrites = true;
    store.upsert(record("alpha", 1));
    defaults.failWrites = false;
    EXPECT_EQ(defaults.data("mac.pairedPeers"), toBytes("garbage"));
    EXPECT_FALSE(defaults.value("mac.pairedPeers.unreadable"));
}

}  // namespace
}  // namespace quillbridge
