#include "app/SingleInstanceChannel.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QLocalSocket>
#include <QStandardPaths>

#include "core/Logger.hpp"

namespace quillbridge {
namespace {

// Waits until the descriptor is ready for the events, until the deadline.
bool waitFor(int descriptor, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd entry{descriptor, events, 0};
        const int result = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (result > 0) {
            return (entry.revents & events) != 0;
        }
        if (result < 0 && errno != EINTR) {
            return false;
        }
    }
}

bool exchange(int descriptor, std::chrono::steady_clock::time_point deadline) {
    const std::string request = SingleInstanceChannel::reopenRequest;
    std::size_t sent = 0;
    while (sent < request.size()) {
        if (!waitFor(descriptor, POLLOUT, deadline)) {
            return false;
        }
        const auto count = ::send(descriptor, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (count < 0 && errno != EINTR && errno != EAGAIN) {
            return false;
        }
        sent += count > 0 ? static_cast<std::size_t>(count) : 0;
    }
    std::string answer;
    const std::string expected = SingleInstanceChannel::reopenAnswer;
    while (answer.size() < expected.size()) {
        if (!waitFor(descriptor, POLLIN, deadline)) {
            return false;
        }
        char buffer[8];
        const auto count = ::recv(descriptor, buffer, sizeof buffer, 0);
        if (count == 0 || (count < 0 && errno != EINTR && errno != EAGAIN)) {
            return false;
        }
        answer.append(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
    }
    return answer.starts_with(expected);
}

}  // namespace

std::filesystem::path SingleInstanceChannel::defaultSocketPath() {
    std::filesystem::path folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
        folder = runtime;
    } else {
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation).toStdString();
    }
    return folder / "quillbridge-host.socket";
}

bool SingleInstanceChannel::handOffToRunningInstance(const std::filesystem::path& socketPath,
                                                     std::chrono::milliseconds timeout) {
    const std::string path = socketPath.string();
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (descriptor < 0) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool handedOff = false;
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
        errno == EINPROGRESS || errno == EAGAIN) {
        handedOff = exchange(descriptor, deadline);
    }
    ::close(descriptor);
    return handedOff;
}

bool SingleInstanceChannel::listen(const std::filesystem::path& socketPath, std::function<void()> onReopen) {
    onReopen_ = std::move(onReopen);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = QString::fromStdString(socketPath.string());
    if (!server_->listen(name)) {
        if (server_->serverError() != QAbstractSocket::AddressInUseError ||
            handOffToRunningInstance(socketPath, std::chrono::milliseconds(500))) {
            server_.reset();
            return false;
        }
        // Nobody answers there: the file of a host that is gone.
        QLocalServer::removeServer(name);
        if (!server_->listen(name)) {
            Logger("App").error("Unable to listen for reopen requests: ",
                                server_->errorString().toStdString());
            server_.reset();
            return false;
        }
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, [this] { accept(); });
    return true;
}

void SingleInstanceChannel::accept() {
    while (QLocalSocket* connection = server_->nextPendingConnection()) {
        QObject::connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
        QObject::connect(connection, &QLocalSocket::readyRead, connection, [this, connection] {
            // A request is one short line; anything longer is not one of ours.
            if (connection->bytesAvailable() > 64) {
                connection->abort();
                return;
            }
            if (!connection->canReadLine()) {
                return;
            }
            const QByteArray line = connection->readLine();
            if (line == reopenRequest) {
                connection->write(reopenAnswer);
                connection->flush();
                onReopen_();
            }
            connection->disconnectFromServer();
        });
    }
}

}  // namespace quillbridge
