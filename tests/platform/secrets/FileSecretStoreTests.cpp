#include "platform/linux/secrets/FileSecretStore.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "core/Logger.hpp"
#include "support/SecretStoreOutcome.hpp"

namespace quillbridge {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

class FileSecretStoreTests : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quillbridge-secrets-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        directory = root / "data" / "quillbridge" / "secrets";
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path root;
    fs::path directory;
    ScopedLogCapture logs;
};

TEST_F(FileSecretStoreTests, AMissingItemIsNotFoundAndCreatesNothing) {
    FileSecretStore store(directory);
    auto result = store.read("Quillbridge.signing-private-key", "mac.signing-key");
    ASSERT_TRUE(result);
    EXPECT_FALSE(*result);
    EXPECT_FALSE(fs::exists(root / "data"));
}

TEST_F(FileSecretStoreTests, ItemsSurviveARestartInOwnerOnlyFiles) {
    Bytes secret{0x00, 0x01, 0xFF, 0x00};
    {
        FileSecretStore store(directory);
        ASSERT_TRUE(store.write("Quillbridge.signing-private-key", "mac.signing-key", secret));
        ASSERT_TRUE(store.write("Quillbridge.tls-identity", "local.AB-v2", toBytes("{}")));
        ASSERT_TRUE(store.write("Quillbridge.tls-identity", "local.AB-v2", toBytes("{\"x\":1}")));
    }
    FileSecretStore store(directory);
    EXPECT_EQ(outcome(store.read("Quillbridge.signing-private-key", "mac.signing-key")),
              "found " + toHex(secret));
    EXPECT_EQ(outcome(store.read("Quillbridge.tls-identity", "local.AB-v2")),
              "found " + toHex(toBytes("{\"x\":1}")));
    EXPECT_EQ(outcome(store.read("Quillbridge.tls-identity", "mac.signing-key")), "not found");

    EXPECT_EQ(modeOf(directory), 0700u);
    EXPECT_EQ(modeOf(directory.parent_path()), 0700u);
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(directory)) {
        ++files;
        EXPECT_EQ(modeOf(entry.path()), 0600u) << entry.path();
    }
    EXPECT_EQ(files, 2u);
}

TEST_F(FileSecretStoreTests, OddNamesStayInsideTheFolder) {
    FileSecretStore store(directory);
    const std::pair<std::string, std::string> names[] = {
        {"..", ".."}, {"a/b", "../../escape"}, {"a@b", "c"}, {"a", "b@c"}, {"", ""}, {"ü", "%41"}};
    for (const auto& [service, account] : names) {
        ASSERT_TRUE(store.write(service, account, toBytes(service + "|" + account)));
        EXPECT_EQ(store.itemPath(service, account).parent_path(), directory);
    }
    for (const auto& [service, account] : names) {
        EXPECT_EQ(outcome(store.read(service, account)), "found " + toHex(toBytes(service + "|" + account)));
    }
    EXPECT_FALSE(fs::exists(root / "data" / "escape"));
    EXPECT_NE(store.itemPath("a@b", "c"), store.itemPath("a", "b@c"));
}

TEST_F(FileSecretStoreTests, AnOpenFolderIsTightenedBeforeUse) {
    fs::create_directories(directory);
    fs::permissions(directory, fs::perms(0755));
    fs::permissions(directory.parent_path(), fs::perms(0755));
    FileSecretStore store(directory);
    ASSERT_TRUE(store.read("s", "a"));
    EXPECT_EQ(modeOf(directory), 0700u);
    ASSERT_TRUE(store.write("s", "a", toBytes("x")));
    EXPECT_EQ(modeOf(directory.parent_path()), 0700u);
}

TEST_F(FileSecretStoreTests, ItemsThatAreNotPlainSmallFilesAreRefused) {
    FileSecretStore store(directory);
    ASSERT_TRUE(store.write("s", "ok", toBytes("x")));

    fs::create_symlink(store.itemPath("s", "ok"), store.itemPath("s", "link"));
    fs::create_directory(store.itemPath("s", "folder"));
    {
        std::ofstream large(store.itemPath("s", "large"), std::ios::binary);
        large << std::string(SecretStore::maximumSecretByteCount + 1, 'x');
    }
    for (const char* account : {"link", "folder", "large"}) {
        auto result = store.read("s", account);
        ASSERT_FALSE(result) << account;
        EXPECT_EQ(result.error(), SecretStoreError::invalidItem) << account;
    }
    EXPECT_EQ(store.write("s", "big", Bytes(SecretStore::maximumSecretByteCount + 1)).error(),
              SecretStoreError::invalidItem);
}

TEST_F(FileSecretStoreTests, AFolderThatCannotBeMadeFailsTheWrite) {
    fs::create_directories(directory.parent_path());
    std::ofstream(directory) << "a file where the folder belongs";
    FileSecretStore store(directory);
    auto written = store.write("s", "a", toBytes("x"));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), SecretStoreError::ioFailure);
    auto read = store.read("s", "a");
    ASSERT_FALSE(read);
}

}  // namespace
}  // namespace quillbridge
