#include "camera_extension/linux/ScheduledOutputSender.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quillbridge {

std::string ScheduledOutputSender::defaultSocketPath() {
    const char* runtimeDirectory = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDirectory == nullptr || *runtimeDirectory == '\0')
        return {};
    return std::string(runtimeDirectory) + "/" + std::string(ScheduledOutputMessage::socketFileName);
}

ScheduledOutputSender::ScheduledOutputSender(std::string socketPath, CameraExtensionLogger logger)
    : socketPath_(std::move(socketPath)), logger_(std::move(logger)) {
    if (socketPath_.empty())
        return;
    if (socketPath_.size() >= sizeof(sockaddr_un::sun_path)) {
        logger_.error("Persona camera acknowledgements are off: the socket path is too long: " + socketPath_);
        socketPath_.clear();
        return;
    }
    socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket_ < 0)
        logger_.error(std::string("Persona camera acknowledgements are off: socket failed: ") +
                      std::strerror(errno));
}

ScheduledOutputSender::~ScheduledOutputSender() {
    if (socket_ >= 0)
        ::close(socket_);
}

void ScheduledOutputSender::send(const ScheduledOutputMessage& message) {
    if (socket_ < 0)
        return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath_.data(), socketPath_.size());
    const auto bytes = message.encoded();
    ssize_t sent = ::sendto(socket_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                            reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    if (sent == ssize_t(bytes.size())) {
        didLogSendFailure_ = false;
        return;
    }
    const int error = sent < 0 ? errno : EMSGSIZE;
    // Nobody bound (the host is not feeding) or the host is behind: nothing to report.
    if (error == ENOENT || error == ECONNREFUSED || error == EAGAIN || didLogSendFailure_)
        return;
    didLogSendFailure_ = true;
    logger_.error(std::string("Could not send a Persona camera acknowledgement: ") + std::strerror(error));
}

}  // namespace quillbridge
