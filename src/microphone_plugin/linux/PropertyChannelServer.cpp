#include "microphone_plugin/linux/PropertyChannelServer.hpp"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "virtual_devices/MicrophoneDeviceIdentifiers.hpp"

namespace quillbridge {

namespace {

std::optional<sockaddr_un> socketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        return std::nullopt;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

std::string systemError(std::string_view operation) {
    return std::string(operation) + " failed: " + std::strerror(errno);
}

// Clears the way for a new socket: false when another live program listens there or the path is taken
// by something that is not a socket.
bool removeStaleSocket(const std::string& path, const sockaddr_un& address, MicrophoneProgramLog& log) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return true;
    }
    if (!S_ISSOCK(status.st_mode)) {
        log.error("The property channel path " + path + " exists and is not a socket");
        return false;
    }
    int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    bool answered =
        probe >= 0 && ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    if (probe >= 0) {
        ::close(probe);
    }
    if (answered) {
        log.error("Another program already serves the property channel at " + path);
        return false;
    }
    ::unlink(path.c_str());
    return true;
}

}  // namespace

std::optional<std::string> PropertyChannelServer::defaultSocketPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') {
        return std::nullopt;
    }
    std::string path = std::string(runtime) + "/" + std::string(microphone::propertyChannelSocketName);
    if (!socketAddress(path)) {
        return std::nullopt;
    }
    return path;
}

std::unique_ptr<PropertyChannelServer> PropertyChannelServer::start(const std::string& path,
                                                                    MicrophoneDriverRef driver,
                                                                    MicrophoneProgramLog& log) {
    auto address = socketAddress(path);
    if (!address) {
        log.error("The property channel path is empty or too long: " + path);
        return nullptr;
    }
    if (!removeStaleSocket(path, *address, log)) {
        return nullptr;
    }
    int listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0) {
        log.error(systemError("socket"));
        return nullptr;
    }
    // The file is made 0600 before the socket listens: nobody can connect in between.
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) != 0 ||
        ::chmod(path.c_str(), 0600) != 0 || ::listen(listener, 8) != 0) {
        log.error(systemError("Listening on the property channel " + path));
        ::close(listener);
        ::unlink(path.c_str());
        return nullptr;
    }
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        log.error(systemError("eventfd"));
        ::close(listener);
        ::unlink(path.c_str());
        return nullptr;
    }
    return std::unique_ptr<PropertyChannelServer>(
        new PropertyChannelServer(path, listener, wake, driver, log));
}

PropertyChannelServer::PropertyChannelServer(std::string path, int listener, int wake,
                                             MicrophoneDriverRef driver, MicrophoneProgramLog& log)
    : path_(std::move(path)), listener_(listener), wake_(wake), handler_(driver), log_(log) {
    thread_ = std::thread([this] { run(); });
}

PropertyChannelServer::~PropertyChannelServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wake_, &one, sizeof(one));
    thread_.join();
    for (auto& client : clients_) {
        closeClient(client);
    }
    ::close(listener_);
    ::close(wake_);
    ::unlink(path_.c_str());
}

void PropertyChannelServer::broadcast(std::vector<std::uint8_t> message) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        outgoing_.push_back(std::move(message));
    }
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wake_, &one, sizeof(one));
}

void PropertyChannelServer::run() {
    pthread_setname_np(pthread_self(), "qb-mic-channel");
    // One receive buffer for every client; a record longer than the largest message is cut and refused.
    std::vector<std::uint8_t> buffer(microphone::propertyChannelMaximumMessageByteCount + 1);
    std::vector<pollfd> descriptors;
    while (true) {
        descriptors.clear();
        descriptors.push_back({wake_, POLLIN, 0});
        descriptors.push_back({listener_, POLLIN, 0});
        for (const auto& client : clients_) {
            descriptors.push_back({client.descriptor, POLLIN, 0});
        }
        if (::poll(descriptors.data(), descriptors.size(), -1) < 0 && errno != EINTR) {
            log_.error(systemError("poll"));
            return;
        }
        if (descriptors[0].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto read = ::read(wake_, &count, sizeof(count));
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
        }
        sendBroadcasts();
        for (std::size_t index = 0; index < clients_.size(); ++index) {
            Client& client = clients_[index];
            if (client.descriptor >= 0 && descriptors[index + 2].revents != 0 &&
                !serveClient(client, buffer)) {
                closeClient(client);
            }
        }
        std::erase_if(clients_, [](const Client& client) { return client.descriptor < 0; });
        if (descriptors[1].revents != 0) {
            acceptClient();
        }
    }
}

void PropertyChannelServer::acceptClient() {
    int descriptor = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (descriptor < 0) {
        return;
    }
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        credentials.uid != ::geteuid()) {
        log_.error("Refused a property channel client of another user");
        ::close(descriptor);
        return;
    }
    if (clients_.size() >= maximumClientCount) {
        log_.error("Refused a property channel client: too many are connected");
        ::close(descriptor);
        return;
    }
    clients_.push_back({descriptor, credentials.pid});
}

bool PropertyChannelServer::serveClient(Client& client, std::vector<std::uint8_t>& buffer) {
    iovec vector{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    ssize_t received = ::recvmsg(client.descriptor, &message, MSG_DONTWAIT);
    if (received < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
    if (received == 0) {
        return false;
    }
    std::span<const std::uint8_t> record(buffer.data(), static_cast<std::size_t>(received));
    microphone::PropertyChannelResponse response;
    if ((message.msg_flags & MSG_TRUNC) != 0 ||
        static_cast<std::size_t>(received) > microphone::propertyChannelMaximumMessageByteCount) {
        response = {microphone::peekPropertyChannelRequestID(record).value_or(0),
                    microphone::propertyChannelMalformedMessage,
                    {}};
    } else {
        response = handler_.handleMessage(record, client.processID);
    }
    auto encoded = microphone::encodePropertyChannelMessage(response);
    if (!encoded) {
        // A value the format cannot carry (none of the driver's answers is one): the request still gets an
        // answer.
        encoded = microphone::encodePropertyChannelMessage(
            microphone::PropertyChannelResponse{response.requestID, microphone::status::unspecified, {}});
    }
    return ::send(client.descriptor, encoded->data(), encoded->size(), MSG_DONTWAIT | MSG_NOSIGNAL) ==
           static_cast<ssize_t>(encoded->size());
}

void PropertyChannelServer::sendBroadcasts() {
    std::deque<std::vector<std::uint8_t>> messages;
    {
        std::lock_guard lock(mutex_);
        messages.swap(outgoing_);
    }
    for (const auto& message : messages) {
        for (auto& client : clients_) {
            if (client.descriptor >= 0 &&
                ::send(client.descriptor, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL) !=
                    static_cast<ssize_t>(message.size())) {
                closeClient(client);
            }
        }
    }
}

void PropertyChannelServer::closeClient(Client& client) {
    if (client.descriptor >= 0) {
        ::close(client.descriptor);
        client.descriptor = -1;
    }
}

}  // namespace quillbridge
