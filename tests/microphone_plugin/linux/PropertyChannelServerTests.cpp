// The property channel's socket: its mode, requests and answers, announcements, malformed and oversized
// records, other users, clients that stop reading, and the client limit.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "microphone_plugin/linux/LinuxMicrophoneDriverHost.hpp"
#include "microphone_plugin/linux/PropertyChannelServer.hpp"
#include "support/microphone/MicrophoneDriverHarness.hpp"
#include "support/microphone/PropertyChannelTestClient.hpp"

namespace quillbridge {
namespace {

using namespace microphone;
using std::chrono::milliseconds;
using std::chrono::seconds;

class PropertyChannelServerTests : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quillbridge-channel.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = pattern;
        path = folder + "/" + std::string(propertyChannelSocketName);
        // The server's announcements come through the Linux host, as in the program.
        harness.table().initialize(harness.ref, &host);
        startServer();
    }
    void TearDown() override {
        host.removeListeners();
        server.reset();
        std::filesystem::remove_all(folder);
    }
    void startServer() {
        server = PropertyChannelServer::start(path, harness.ref, log);
        ASSERT_TRUE(server);
        host.addListener([this](MicrophoneObjectID object,
                                std::span<const MicrophonePropertyAddress> addresses) {
            if (auto message = MicrophonePropertyChannelHandler::encodePropertiesChanged(object, addresses)) {
                server->broadcast(std::move(*message));
            }
        });
    }
    std::unique_ptr<PropertyChannelTestClient> connect() {
        auto client = PropertyChannelTestClient::connect(path);
        EXPECT_TRUE(client);
        return client;
    }

    MicrophoneDriverHarness harness;
    LinuxMicrophoneDriverHost host;
    MicrophoneProgramLog log{false};
    std::string folder;
    std::string path;
    std::unique_ptr<PropertyChannelServer> server;
};

TEST_F(PropertyChannelServerTests, TheSocketIsOpenToItsOwnerOnly) {
    struct stat status {};
    ASSERT_EQ(::lstat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISSOCK(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(PropertyChannelServerTests, RequestsAreAnsweredAndChangesAnnouncedToEveryClient) {
    auto host = connect();
    auto observer = connect();
    auto acquired = host->get(boxObjectID, selector::acquired);
    ASSERT_TRUE(acquired);
    EXPECT_EQ(acquired->value, PropertyChannelValue(0u));
    ASSERT_TRUE(host->setAcquired(true));
    harness.scheduler.runReady();
    for (auto* client : {host.get(), observer.get()}) {
        auto box = client->nextPropertiesChanged(seconds(5));
        ASSERT_TRUE(box);
        EXPECT_EQ(box->objectID, boxObjectID);
        EXPECT_EQ(box->addresses.front().selector, selector::acquired);
        auto plugIn = client->nextPropertiesChanged(seconds(5));
        ASSERT_TRUE(plugIn);
        EXPECT_EQ(plugIn->objectID, plugInObjectID);
    }
    auto devices = host->get(plugInObjectID, selector::deviceList);
    ASSERT_TRUE(devices);
    EXPECT_EQ(devices->value, PropertyChannelValue(PropertyChannelBytes{3, 0, 0, 0}));
    auto translated = observer->get(plugInObjectID, selector::translateUIDToDevice, std::string(deviceUID));
    ASSERT_TRUE(translated);
    EXPECT_EQ(translated->value, PropertyChannelValue(3u));
}

TEST_F(PropertyChannelServerTests, MalformedAndOversizedRecordsGetAnErrorAndTheConnectionStays) {
    auto client = connect();
    PropertyChannelRequest request{41,
                                   PropertyChannelOperation::getPropertyData,
                                   boxObjectID,
                                   {selector::acquired},
                                   propertyChannelReportedCapacity,
                                   {},
                                   {}};
    auto bytes = *encodePropertyChannelMessage(request);
    bytes.push_back(0);
    ASSERT_TRUE(client->sendRaw(bytes));
    auto answer = client->receiveRaw(seconds(5));
    ASSERT_TRUE(answer);
    EXPECT_EQ(decodePropertyChannelMessage(*answer),
              PropertyChannelMessage(PropertyChannelResponse{41, propertyChannelMalformedMessage, {}}));

    int bufferSize = 1 << 20;
    ::setsockopt(client->descriptor(), SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof(bufferSize));
    std::vector<std::uint8_t> oversized(propertyChannelMaximumMessageByteCount + 100, 0);
    std::copy(bytes.begin(), bytes.begin() + 12, oversized.begin());
    if (client->sendRaw(oversized)) {
        answer = client->receiveRaw(seconds(5));
        ASSERT_TRUE(answer);
        EXPECT_EQ(decodePropertyChannelMessage(*answer),
                  PropertyChannelMessage(PropertyChannelResponse{41, propertyChannelMalformedMessage, {}}));
    }
    EXPECT_TRUE(client->get(boxObjectID, selector::acquired));
}

TEST_F(PropertyChannelServerTests, AClientThatStopsReadingIsDroppedAndOthersAreStillServed) {
    auto stuck = connect();
    PropertyChannelRequest request{1,
                                   PropertyChannelOperation::getPropertyData,
                                   boxObjectID,
                                   {selector::name},
                                   propertyChannelReportedCapacity,
                                   {},
                                   {}};
    auto bytes = *encodePropertyChannelMessage(request);
    // Requests without reading a single answer, until the server gives the client up.
    bool dropped = false;
    auto deadline = PropertyChannelTestClient::Clock::now() + seconds(20);
    while (!dropped && PropertyChannelTestClient::Clock::now() < deadline) {
        if (::send(stuck->descriptor(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                dropped = true;
            } else {
                std::this_thread::sleep_for(milliseconds(1));
            }
        }
    }
    EXPECT_TRUE(dropped);
    auto other = connect();
    EXPECT_TRUE(other->get(boxObjectID, selector::acquired));
}

TEST_F(PropertyChannelServerTests, ClientsBeyondTheLimitAreTurnedAway) {
    std::vector<std::unique_ptr<PropertyChannelTestClient>> clients;
    for (std::size_t index = 0; index < PropertyChannelServer::maximumClientCount; ++index) {
        clients.push_back(connect());
        ASSERT_TRUE(clients.back()->get(boxObjectID, selector::acquired));
    }
    auto extra = connect();
    EXPECT_TRUE(extra->waitForClose(seconds(5)));
    clients.pop_back();
    // The closed client's place is freed once the server notices it.
    bool served = false;
    for (int attempt = 0; attempt < 50 && !served; ++attempt) {
        auto client = PropertyChannelTestClient::connect(path);
        served = client && client->get(boxObjectID, selector::acquired, {}, scope::global).has_value();
    }
    EXPECT_TRUE(served);
}

TEST_F(PropertyChannelServerTests, ProcessesOfAnotherUserAreRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to connect as another user";
    }
    // The file's mode alone keeps other users out; open it (and its folder) to see the credential check too.
    ASSERT_EQ(::chmod(folder.c_str(), 0711), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    // Another user, on a thread of this process: raw system calls change only the calling thread's
    // credentials (glibc's setuid would change every thread's). A forked child of this threaded process could
    // hang in malloc on a lock another thread held at the fork.
    int outcome = -1;
    std::thread otherUser([&] {
        if (::syscall(SYS_setresgid, 65534, 65534, 65534) != 0 ||
            ::syscall(SYS_setresuid, 65534, 65534, 65534) != 0) {
            outcome = 3;
            return;
        }
        auto client = PropertyChannelTestClient::connect(path);
        if (!client) {
            outcome = 4;
            return;
        }
        outcome = client->get(boxObjectID, selector::acquired).has_value() ? 5 : 0;
    });
    otherUser.join();
    EXPECT_EQ(outcome, 0);
}

TEST_F(PropertyChannelServerTests, AStaleSocketIsReplacedButALiveOneOrAnotherFileIsNot) {
    MicrophoneProgramLog quiet{false};
    EXPECT_FALSE(PropertyChannelServer::start(path, harness.ref, quiet)) << "the first server still listens";
    host.removeListeners();
    server.reset();
    // A socket file nobody listens on any more.
    int leftover = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(leftover, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ::close(leftover);
    startServer();
    EXPECT_TRUE(connect()->get(boxObjectID, selector::acquired));

    std::string plainFile = folder + "/plain";
    std::ofstream(plainFile) << "not a socket";
    EXPECT_FALSE(PropertyChannelServer::start(plainFile, harness.ref, quiet));
    EXPECT_TRUE(std::filesystem::exists(plainFile));
}

}  // namespace
}  // namespace quillbridge
