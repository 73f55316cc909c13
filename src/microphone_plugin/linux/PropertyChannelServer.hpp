#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "microphone_plugin/MicrophonePropertyChannelHandler.hpp"
#include "microphone_plugin/linux/MicrophoneProgramLog.hpp"

namespace quillbridge {

// The property channel's listening end: a SOCK_SEQPACKET Unix socket, mode 0600, that accepts processes of
// this user only (checked with SO_PEERCRED). Each request record is answered with one response record;
// properties-changed records go to every client. It serves on a thread of its own and never blocks on a
// client: a client that does not read its answers or announcements (its socket buffer full) is dropped, and
// at most maximumClientCount clients are connected at a time.
class PropertyChannelServer {
public:
    static constexpr std::size_t maximumClientCount = 8;

    // Listens at the path; nothing when it cannot (the reason is logged). A socket file left by a program
    // that is gone is replaced; one that still answers, or a file that is not a socket, is left alone.
    static std::unique_ptr<PropertyChannelServer> start(const std::string& path, MicrophoneDriverRef driver,
                                                        MicrophoneProgramLog& log);
    // The socket path in $XDG_RUNTIME_DIR; nothing when the variable is unset or the path too long.
    static std::optional<std::string> defaultSocketPath();

    ~PropertyChannelServer();
    PropertyChannelServer(const PropertyChannelServer&) = delete;
    PropertyChannelServer& operator=(const PropertyChannelServer&) = delete;

    // Sends one message to every connected client, from the server's thread (callable from any thread).
    void broadcast(std::vector<std::uint8_t> message);

private:
    struct Client {
        int descriptor = -1;
        std::int32_t processID = 0;
    };

    PropertyChannelServer(std::string path, int listener, int wake, MicrophoneDriverRef driver,
                          MicrophoneProgramLog& log);
    void run();
    void acceptClient();
    // False when the client is gone or is to be dropped.
    bool serveClient(Client& client, std::vector<std::uint8_t>& buffer);
    void sendBroadcasts();
    void closeClient(Client& client);

    std::string path_;
    int listener_;
    int wake_;
    MicrophonePropertyChannelHandler handler_;
    MicrophoneProgramLog& log_;
    std::vector<Client> clients_;
    std::mutex mutex_;
    std::deque<std::vector<std::uint8_t>> outgoing_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace quillbridge
