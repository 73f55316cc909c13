// Runs against a real Secret Service (gnome-keyring-daemon on a private session bus), started by
// run-with-keyring.sh. The locked-collection test locks the keyring for good, so the script runs it
// last, in a pass of its own.
#include "platform/linux/secrets/SecretServiceSecretStore.hpp"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "core/Logger.hpp"
#include "pairing/GeneratedTLSIdentity.hpp"
#include "pairing/PairedPeerStore.hpp"
#include "platform/linux/secrets/LinuxSecretStore.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/SecretStoreOutcome.hpp"

namespace quillbridge {
namespace {

namespace fs = std::filesystem;

class SecretServiceSecretStoreTests : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QUILLBRIDGE_TEST_SECRET_SERVICE") == nullptr) {
            GTEST_SKIP() << "needs the private Secret Service that run-with-keyring.sh starts";
        }
        store = SecretServiceSecretStore::connect();
        ASSERT_TRUE(store) << "the Secret Service did not answer";
    }

    // A fresh account per test, so tests do not see each other's items.
    std::string account(std::string_view name) {
        return std::string(name) + "." + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }

    std::unique_ptr<SecretServiceSecretStore> store;
    ScopedLogCapture logs;
};

TEST_F(SecretServiceSecretStoreTests, StoresReplacesAndReadsBinarySecrets) {
    auto missing = store->read("Quillbridge.test", account("a"));
    ASSERT_TRUE(missing);
    EXPECT_FALSE(*missing);

    Bytes secret{0x00, 0xFF, 0x00, 0x7F};
    ASSERT_TRUE(store->write("Quillbridge.test", account("a"), secret));
    EXPECT_EQ(outcome(store->read("Quillbridge.test", account("a"))), "found " + toHex(secret));
    ASSERT_TRUE(store->write("Quillbridge.test", account("a"), toBytes("replaced")));
    EXPECT_EQ(outcome(store->read("Quillbridge.test", account("a"))), "found " + toHex(toBytes("replaced")));

    // Service and account both select the item.
    EXPECT_EQ(outcome(store->read("Quillbridge.other", account("a"))), "not found");
    EXPECT_EQ(outcome(store->read("Quillbridge.test", account("b"))), "not found");

    // A second connection (a restarted program) sees the same item.
    auto again = SecretServiceSecretStore::connect();
    ASSERT_TRUE(again);
    EXPECT_EQ(outcome(again->read("Quillbridge.test", account("a"))), "found " + toHex(toBytes("replaced")));
}

TEST_F(SecretServiceSecretStoreTests, TheHostChoosesTheSecretServiceAndKeepsItsKeysThere) {
    std::string pattern = (fs::temp_directory_path() / "quillbridge-keyring-data-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    fs::path data = pattern;

    FakeDefaultsStore defaults;
    Bytes signingKey;
    Bytes certificate;
    Uuid localPeerID = Uuid::random();
    {
        auto secrets = LinuxSecretStore::open(data, true);
        EXPECT_EQ(logs.messages("SecretStore"),
                  std::vector<std::string>{"Keeping secrets in the Secret Service"});
        PairedPeerStore peers(defaults, *secrets, PairingRole::mac);
        auto key = peers.loadOrCreateSigningKey();
        ASSERT_TRUE(key);
        signingKey = key->rawRepresentation().exposedCopy();
        auto identity = GeneratedTLSIdentity::loadOrCreate(*secrets, localPeerID);
        ASSERT_TRUE(identity);
        certificate = identity->certificateDER;
    }
    std::ifstream marker(data / "secret-backend");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(marker), {}), "secret-service\n");
    EXPECT_FALSE(fs::exists(data / "secrets"));

    auto secrets = LinuxSecretStore::open(data, true);
    PairedPeerStore peers(defaults, *secrets, PairingRole::mac);
    auto key = peers.loadOrCreateSigningKey();
    ASSERT_TRUE(key);
    EXPECT_EQ(key->rawRepresentation(), signingKey);
    EXPECT_EQ(GeneratedTLSIdentity::loadOrCreate(*secrets, localPeerID)->certificateDER, certificate);
    fs::remove_all(data);
}

TEST_F(SecretServiceSecretStoreTests, LockedCollectionIsAFailureNeverNotFound) {
    ASSERT_TRUE(store->write("Quillbridge.test", account("present"), toBytes("x")));
    ASSERT_TRUE(store->lockDefaultCollection());

    for (const auto& name : {account("present"), account("absent")}) {
        auto read = store->read("Quillbridge.test", name);
        ASSERT_FALSE(read) << name;
        EXPECT_EQ(read.error(), SecretStoreError::interactionRequired) << name;
    }
    auto written = store->write("Quillbridge.test", account("absent"), toBytes("y"));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), SecretStoreError::interactionRequired);

    // Unlocking would need the user: the service's prompt is refused, never shown.
    auto unlocked = store->unlockDefaultCollection();
    ASSERT_FALSE(unlocked);
    EXPECT_EQ(unlocked.error(), SecretStoreError::interactionRequired);
    auto stillLocked = store->read("Quillbridge.test", account("present"));
    ASSERT_FALSE(stillLocked);
    EXPECT_EQ(stillLocked.error(), SecretStoreError::interactionRequired);

    // No new signing key is made while the keyring is locked.
    FakeDefaultsStore defaults;
    PairedPeerStore peers(defaults, *store, PairingRole::visionPro);
    EXPECT_FALSE(peers.loadOrCreateSigningKey());
    EXPECT_EQ(logs.messages("PairedPeerStore"),
              std::vector<std::string>{"Unable to read the signing private key from the keychain: 1"});
}

}  // namespace
}  // namespace quillbridge
