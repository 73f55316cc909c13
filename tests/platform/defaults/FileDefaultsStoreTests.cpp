#include "platform/linux/defaults/FileDefaultsStore.hpp"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/Logger.hpp"

namespace quillbridge {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream stream(path, std::ios::binary);
    stream << text;
}

class FileDefaultsStoreTests : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quillbridge-defaults-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        file = root / "config" / "quillbridge" / "defaults.json";
    }
    void TearDown() override { fs::remove_all(root); }

    std::vector<std::string> entries(const fs::path& directory) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path root;
    fs::path file;
    ScopedLogCapture logs;
};

TEST_F(FileDefaultsStoreTests, ValuesKeepTheirKindAcrossARestart) {
    {
        FileDefaultsStore store(file);
        EXPECT_FALSE(store.value("mac.localPeerID"));
        EXPECT_TRUE(store.setString("mac.localPeerID", "AB12CD34-EF56-AB78-CD90-EF12AB34CD56"));
        EXPECT_TRUE(store.setData("mac.pairedPeers", Bytes{0x00, 0x5B, 0xFF}));
        EXPECT_TRUE(store.setData("empty", Bytes{}));
        EXPECT_TRUE(store.setInteger("count", -9'007'199'254'740'993));
        EXPECT_TRUE(store.setBoolean("enablePeerToPeerConnections", true));
        EXPECT_TRUE(store.setString("gone", "soon"));
        EXPECT_TRUE(store.removeValue("gone"));
        EXPECT_TRUE(store.removeValue("never there"));
    }
    FileDefaultsStore store(file);
    EXPECT_EQ(store.string("mac.localPeerID"), "AB12CD34-EF56-AB78-CD90-EF12AB34CD56");
    EXPECT_EQ(store.data("mac.pairedPeers"), (Bytes{0x00, 0x5B, 0xFF}));
    EXPECT_EQ(store.data("empty"), Bytes{});
    EXPECT_EQ(store.integer("count"), -9'007'199'254'740'993);
    EXPECT_EQ(store.boolean("enablePeerToPeerConnections"), true);
    EXPECT_FALSE(store.value("gone"));

    // Another kind than the one stored reads as nothing.
    EXPECT_FALSE(store.string("mac.pairedPeers"));
    EXPECT_FALSE(store.data("mac.localPeerID"));
    EXPECT_FALSE(store.integer("enablePeerToPeerConnections"));
    EXPECT_FALSE(store.boolean("count"));

    EXPECT_EQ(entries(file.parent_path()), std::vector<std::string>{"defaults.json"});
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(FileDefaultsStoreTests, EntriesItCannotReadAreKeptAsTheyAre) {
    fs::create_directories(file.parent_path());
    writeText(file, R"({"fraction":1.5,"list":[1,2],"badData":{"data":"%%%"},"huge":18446744073709551615})");
    FileDefaultsStore store(file);
    EXPECT_FALSE(store.value("fraction"));
    EXPECT_FALSE(store.value("list"));
    EXPECT_FALSE(store.value("badData"));
    EXPECT_FALSE(store.value("huge"));
    ASSERT_TRUE(store.setBoolean("flag", false));
    auto text = readText(file);
    EXPECT_NE(text.find(R"("fraction":1.5)"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("list":[1,2])"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("flag":false)"), std::string::npos) << text;
}

TEST_F(FileDefaultsStoreTests, AnUnreadableFileIsSetAsideNotOverwritten) {
    const std::string contents[] = {"{not json", "[1,2,3]", "\"text\"", std::string("{\"a\":\"\xff\"}")};
    for (const auto& content : contents) {
        fs::remove_all(file.parent_path());
        fs::create_directories(file.parent_path());
        writeText(file, content);
        FileDefaultsStore store(file);
        EXPECT_FALSE(store.value("a"));
        ASSERT_TRUE(store.setString("a", "b"));

        auto names = entries(file.parent_path());
        ASSERT_EQ(names.size(), 2u) << content;
        EXPECT_EQ(names[0], "defaults.json");
        EXPECT_EQ(names[1].rfind("defaults.json.unreadable-", 0), 0u) << names[1];
        EXPECT_EQ(readText(file.parent_path() / names[1]), content);
        EXPECT_EQ(FileDefaultsStore(file).string("a"), "b");
    }
    EXPECT_FALSE(logs.messages("Defaults").empty());
}

TEST_F(FileDefaultsStoreTests, AFileThatCannotBeOpenedIsSetAsideNotOverwritten) {
    struct Case {
        const char* name;
        std::function<bool()> make;  // false: not possible for this user
    };
    const Case cases[] = {
        {"a socket",
         [&] {
             int handle = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             std::strncpy(address.sun_path, file.c_str(), sizeof address.sun_path - 1);
             bool bound = ::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
             ::close(handle);
             return bound;
         }},
        // Root reads it regardless of its mode.
        {"a file its owner may not read",
         [&] {
             writeText(file, R"({"mac.localPeerID":"AB12CD34-EF56-AB78-CD90-EF12AB34CD56"})");
             ::chmod(file.c_str(), 0);
             return ::geteuid() != 0;
         }},
    };
    for (const auto& item : cases) {
        fs::remove_all(file.parent_path());
        fs::create_directories(file.parent_path());
        if (!item.make())
            continue;
        FileDefaultsStore store(file);
        EXPECT_FALSE(store.value("mac.localPeerID")) << item.name;
        ASSERT_TRUE(store.setString("a", "b")) << item.name;

        auto names = entries(file.parent_path());
        ASSERT_EQ(names.size(), 2u) << item.name;
        EXPECT_EQ(names[0], "defaults.json");
        EXPECT_EQ(names[1].rfind("defaults.json.unreadable-", 0), 0u) << names[1];
        EXPECT_EQ(FileDefaultsStore(file).string("a"), "b") << item.name;
    }
}

TEST_F(FileDefaultsStoreTests, AFailedWriteReportsFalseAndChangesNothing) {
    fs::create_directories(root / "config");
    writeText(root / "config" / "quillbridge", "a file where the folder belongs");
    FileDefaultsStore store(file);
    EXPECT_FALSE(store.setString("key", "value"));
    EXPECT_FALSE(store.value("key"));
    EXPECT_FALSE(logs.messages("Defaults").empty());
}

TEST_F(FileDefaultsStoreTests, RefusesTextThatIsNotUTF8) {
    FileDefaultsStore store(file);
    EXPECT_FALSE(store.setString("key", "\xc3("));
    EXPECT_FALSE(store.value("key"));
}

TEST_F(FileDefaultsStoreTests, WritesFromSeveralThreadsAreAllKept) {
    {
        FileDefaultsStore store(file);
        std::vector<std::thread> threads;
        for (int thread = 0; thread < 4; ++thread) {
            threads.emplace_back([&store, thread] {
                for (int index = 0; index < 25; ++index) {
                    store.setInteger("key." + std::to_string(thread) + "." + std::to_string(index), index);
                    store.value("key.0.0");
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
    }
    FileDefaultsStore store(file);
    for (int thread = 0; thread < 4; ++thread) {
        for (int index = 0; index < 25; ++index) {
            EXPECT_EQ(store.integer("key." + std::to_string(thread) + "." + std::to_string(index)), index);
        }
    }
    EXPECT_EQ(entries(file.parent_path()), std::vector<std::string>{"defaults.json"});
}

TEST_F(FileDefaultsStoreTests, TheDefaultLocationFollowsXDGConfigHome) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    std::string previous = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    EXPECT_EQ(FileDefaultsStore::defaultLocation(), fs::path("/somewhere/config/quillbridge/defaults.json"));
    // A relative value is not a base directory; the home directory's .config is used instead.
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(FileDefaultsStore::defaultLocation().filename(), "defaults.json");
    EXPECT_EQ(FileDefaultsStore::defaultLocation().parent_path().parent_path().filename(), ".config");
    if (saved) {
        ::setenv("XDG_CONFIG_HOME", previous.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

}  // namespace
}  // namespace quillbridge
