#include "platform/linux/secrets/LinuxSecretStore.hpp"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "core/Logger.hpp"
#include "pairing/GeneratedTLSIdentity.hpp"
#include "pairing/PairedPeerStore.hpp"
#include "platform/linux/defaults/FileDefaultsStore.hpp"
#include "platform/linux/secrets/FileSecretStore.hpp"

namespace quillbridge {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

class LinuxSecretStoreTests : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quillbridge-host-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        dataDirectory = root / "data" / "quillbridge";
        defaultsFile = root / "config" / "quillbridge" / "defaults.json";
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path root;
    fs::path dataDirectory;
    fs::path defaultsFile;
    ScopedLogCapture logs;
};

TEST_F(LinuxSecretStoreTests, WithoutASecretServiceSecretsGoToFilesAndTheChoiceIsLogged) {
    auto store = LinuxSecretStore::open(dataDirectory, false);
    ASSERT_TRUE(store->write("s", "a", toBytes("x")));
    EXPECT_TRUE(fs::exists(dataDirectory / "secrets"));
    EXPECT_EQ(readText(dataDirectory / "secret-backend"), "file\n");
    EXPECT_EQ(logs.messages("SecretStore"), std::vector<std::string>{"Keeping secrets in files under " +
                                                                     (dataDirectory / "secrets").string()});
}

TEST_F(LinuxSecretStoreTests, ARecordedSecretServiceThatDoesNotAnswerMakesSecretsUnavailable) {
    fs::create_directories(dataDirectory);
    std::ofstream(dataDirectory / "secret-backend") << "secret-service\n";
    auto store = LinuxSecretStore::open(dataDirectory, false);
    auto read = store->read("Quillbridge.signing-private-key", "mac.signing-key");
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error(), SecretStoreError::unavailable);

    // So the peer store does not take the missing service for a missing key.
    FileDefaultsStore defaults(defaultsFile);
    PairedPeerStore peers(defaults, *store, PairingRole::mac);
    EXPECT_FALSE(peers.loadOrCreateSigningKey());
    EXPECT_FALSE(fs::exists(dataDirectory / "secrets"));
}

TEST_F(LinuxSecretStoreTests, IdentityAndSigningKeySurviveARestart) {
    Uuid localPeerID;
    Bytes signingKey;
    Bytes certificate;
    {
        FileDefaultsStore defaults(defaultsFile);
        auto secrets = LinuxSecretStore::open(dataDirectory, false);
        PairedPeerStore peers(defaults, *secrets, PairingRole::mac);
        localPeerID = peers.localPeerID();
        auto key = peers.loadOrCreateSigningKey();
        ASSERT_TRUE(key);
        signingKey = key->rawRepresentation().exposedCopy();
        auto identity = GeneratedTLSIdentity::loadOrCreate(*secrets, localPeerID);
        ASSERT_TRUE(identity);
        certificate = identity->certificateDER;
        peers.upsert(PairedPeerRecord{Uuid::random(), "Headset", Bytes(64, 1), certificate, Date{10}});
    }
    FileDefaultsStore defaults(defaultsFile);
    auto secrets = LinuxSecretStore::open(dataDirectory, false);
    PairedPeerStore peers(defaults, *secrets, PairingRole::mac);
    EXPECT_EQ(peers.localPeerID(), localPeerID);
    auto key = peers.loadOrCreateSigningKey();
    ASSERT_TRUE(key);
    EXPECT_EQ(key->rawRepresentation(), signingKey);
    auto identity = GeneratedTLSIdentity::loadOrCreate(*secrets, localPeerID);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->certificateDER, certificate);
    ASSERT_EQ(peers.allPeers().size(), 1u);
    EXPECT_EQ(peers.allPeers()[0].tlsCertificate, certificate);
}

TEST_F(LinuxSecretStoreTests, ACorruptedSigningKeyFileGivesNoKeyAndIsLeftAlone) {
    FileSecretStore files(dataDirectory / "secrets");
    ASSERT_TRUE(files.write("Quillbridge.signing-private-key", "mac.signing-key", toBytes("short")));
    auto path = files.itemPath("Quillbridge.signing-private-key", "mac.signing-key");
    auto before = fs::last_write_time(path);

    FileDefaultsStore defaults(defaultsFile);
    auto secrets = LinuxSecretStore::open(dataDirectory, false);
    PairedPeerStore peers(defaults, *secrets, PairingRole::mac);
    EXPECT_FALSE(peers.loadOrCreateSigningKey());
    EXPECT_FALSE(peers.loadOrCreateSigningKey());
    EXPECT_EQ(readText(path), "short");
    EXPECT_EQ(fs::last_write_time(path), before);
}

TEST_F(LinuxSecretStoreTests, AnUnreadablePeerListOnDiskIsBackedUpBeforeItIsReplaced) {
    {
        FileDefaultsStore defaults(defaultsFile);
        defaults.setData("mac.pairedPeers", toBytes("[{\"id\":"));
    }
    FileDefaultsStore defaults(defaultsFile);
    auto secrets = LinuxSecretStore::open(dataDirectory, false);
    PairedPeerStore peers(defaults, *secrets, PairingRole::mac);
    EXPECT_TRUE(peers.allPeers().empty());
    peers.upsert(PairedPeerRecord{Uuid::random(), "Headset", Bytes(64, 1), std::nullopt, std::nullopt});

    FileDefaultsStore reopened(defaultsFile);
    EXPECT_EQ(reopened.data("mac.pairedPeers.unreadable"), toBytes("[{\"id\":"));
    EXPECT_EQ(PairedPeerStore(reopened, *secrets, PairingRole::mac).allPeers().size(), 1u);
}

}  // namespace
}  // namespace quillbridge
