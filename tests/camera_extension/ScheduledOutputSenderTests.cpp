#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "camera_extension/linux/ScheduledOutputSender.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/camera_extension/RecordingCameraLog.hpp"

namespace quillbridge {
namespace {

// The host's end of the acknowledgements: a datagram socket bound in a private folder.
class ScheduledOutputSenderTest : public testing::Test {
protected:
    void SetUp() override {
        char folderTemplate[] = "/tmp/quillbridge-acknowledgements.XXXXXX";
        ASSERT_NE(::mkdtemp(folderTemplate), nullptr);
        folder = folderTemplate;
        socketPath = folder + "/" + std::string(ScheduledOutputMessage::socketFileName);
    }

    void TearDown() override {
        if (receiver >= 0)
            ::close(receiver);
        std::filesystem::remove_all(folder);
    }

    void bindReceiver() {
        receiver = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socketPath.copy(address.sun_path, sizeof(address.sun_path) - 1);
        ASSERT_EQ(::bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    }

    // The next datagram, whatever its length.
    std::optional<ScheduledOutputMessage> receive() {
        std::array<std::uint8_t, 64> bytes{};
        ssize_t count = ::recv(receiver, bytes.data(), bytes.size(), 0);
        if (count < 0)
            return std::nullopt;
        return ScheduledOutputMessage::decode(std::span(bytes).first(std::size_t(count)));
    }

    std::string folder;
    std::string socketPath;
    int receiver = -1;
    RecordingCameraLog log;
};

TEST_F(ScheduledOutputSenderTest, EachAcknowledgementIsOneDatagramToTheHost) {
    bindReceiver();
    ScheduledOutputSender sender(socketPath, log.logger());

    sender.send({7, 1'000});
    sender.send({8, 2'000});

    EXPECT_EQ(receive(), (ScheduledOutputMessage{7, 1'000}));
    EXPECT_EQ(receive(), (ScheduledOutputMessage{8, 2'000}));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ScheduledOutputSenderTest, NobodyListeningDropsAcknowledgementsQuietly) {
    ScheduledOutputSender sender(socketPath, log.logger());
    sender.send({1, 1});

    bindReceiver();
    sender.send({2, 2});

    EXPECT_EQ(receive(), (ScheduledOutputMessage{2, 2}));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ScheduledOutputSenderTest, HostThatFallsBehindLosesAcknowledgementsWithoutBlockingTheSender) {
    bindReceiver();
    ScheduledOutputSender sender(socketPath, log.logger());

    for (std::uint64_t sequence = 0; sequence < 10'000; ++sequence)
        sender.send({sequence, sequence});

    EXPECT_EQ(receive(), (ScheduledOutputMessage{0, 0}));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ScheduledOutputSenderTest, PathTooLongForASocketTurnsAcknowledgementsOff) {
    ScheduledOutputSender sender(folder + "/" + std::string(120, 'x'), log.logger());
    sender.send({1, 1});

    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_THAT(log.lines()[0].message, testing::StartsWith("Persona camera acknowledgements are off"));
}

TEST(ScheduledOutputSenderPathTest, SocketLivesInTheRuntimeFolder) {
    {
        ScopedEnvironment runtime("XDG_RUNTIME_DIR", "/run/user/1000");
        EXPECT_EQ(ScheduledOutputSender::defaultSocketPath(),
                  "/run/user/1000/quillbridge-camera-scheduled-output");
    }
    ScopedEnvironment runtime("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(ScheduledOutputSender::defaultSocketPath(), "");
}

}  // namespace
}  // namespace quillbridge
