#include "support/microphone/PropertyChannelTestClient.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace quillbridge {

using namespace microphone;

std::unique_ptr<PropertyChannelTestClient> PropertyChannelTestClient::connect(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        return nullptr;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int descriptor = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        return nullptr;
    }
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(descriptor);
        return nullptr;
    }
    return std::unique_ptr<PropertyChannelTestClient>(new PropertyChannelTestClient(descriptor));
}

std::unique_ptr<PropertyChannelTestClient> PropertyChannelTestClient::connectWhenReady(
    const std::string& path, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (true) {
        if (auto client = connect(path)) {
            return client;
        }
        if (Clock::now() > deadline) {
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string PropertyChannelTestClient::defaultPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return std::string(runtime != nullptr ? runtime : "/tmp") + "/" + std::string(propertyChannelSocketName);
}

PropertyChannelTestClient::~PropertyChannelTestClient() {
    ::close(descriptor_);
}

bool PropertyChannelTestClient::sendRaw(std::span<const std::uint8_t> record) {
    return ::send(descriptor_, record.data(), record.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(record.size());
}

std::optional<std::vector<std::uint8_t>> PropertyChannelTestClient::receiveRaw(
    std::chrono::milliseconds timeout) {
    pollfd descriptor{descriptor_, POLLIN, 0};
    if (::poll(&descriptor, 1, static_cast<int>(timeout.count())) <= 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> record(propertyChannelMaximumMessageByteCount + 1);
    ssize_t received = ::recv(descriptor_, record.data(), record.size(), 0);
    if (received <= 0) {
        return std::nullopt;
    }
    record.resize(static_cast<std::size_t>(received));
    return record;
}

bool PropertyChannelTestClient::waitForClose(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        pollfd descriptor{descriptor_, POLLIN, 0};
        if (::poll(&descriptor, 1, 50) > 0) {
            std::uint8_t byte[64];
            ssize_t received = ::recv(descriptor_, byte, sizeof(byte), MSG_DONTWAIT);
            if (received == 0 || (received < 0 && errno != EAGAIN)) {
                return true;
            }
        }
    }
    return false;
}

std::optional<PropertyChannelResponse> PropertyChannelTestClient::call(PropertyChannelRequest request,
                                                                       std::chrono::milliseconds timeout) {
    request.requestID = nextRequestID_++;
    auto bytes = encodePropertyChannelMessage(request);
    if (!bytes || !sendRaw(*bytes)) {
        return std::nullopt;
    }
    auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        auto record = receiveRaw(std::max(left, std::chrono::milliseconds(1)));
        if (!record) {
            return std::nullopt;
        }
        auto message = decodePropertyChannelMessage(*record);
        if (!message) {
            return std::nullopt;
        }
        if (auto* changed = std::get_if<PropertyChannelPropertiesChanged>(&*message)) {
            changes_.push_back(std::move(*changed));
        } else if (auto* response = std::get_if<PropertyChannelResponse>(&*message);
                   response != nullptr && response->requestID == request.requestID) {
            return std::move(*response);
        }
    }
    return std::nullopt;
}

std::optional<PropertyChannelResponse> PropertyChannelTestClient::get(ObjectID object,
                                                                      PropertySelector selector,
                                                                      PropertyChannelValue qualifier,
                                                                      PropertyScope scope) {
    PropertyChannelRequest request;
    request.operation = PropertyChannelOperation::getPropertyData;
    request.objectID = object;
    request.address = {selector, scope, mainElement};
    request.qualifier = std::move(qualifier);
    return call(std::move(request));
}

std::optional<PropertyChannelResponse> PropertyChannelTestClient::set(ObjectID object,
                                                                      PropertySelector selector,
                                                                      PropertyChannelValue value) {
    PropertyChannelRequest request;
    request.operation = PropertyChannelOperation::setPropertyData;
    request.objectID = object;
    request.address = {selector, scope::global, mainElement};
    request.data = std::move(value);
    return call(std::move(request));
}

bool PropertyChannelTestClient::setAcquired(bool acquired) {
    auto response = set(boxObjectID, selector::acquired, std::uint32_t{acquired ? 1u : 0u});
    return response && response->status == status::ok;
}

bool PropertyChannelTestClient::writePacket(std::vector<std::uint8_t> packet) {
    auto response = set(deviceObjectID, selector::audioPacket, std::move(packet));
    return response && response->status == status::ok;
}

std::optional<PropertyChannelPropertiesChanged> PropertyChannelTestClient::nextPropertiesChanged(
    std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (changes_.empty() && Clock::now() < deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        auto record = receiveRaw(std::max(left, std::chrono::milliseconds(1)));
        if (!record) {
            break;
        }
        auto message = decodePropertyChannelMessage(*record);
        if (message && std::holds_alternative<PropertyChannelPropertiesChanged>(*message)) {
            changes_.push_back(std::get<PropertyChannelPropertiesChanged>(std::move(*message)));
        }
    }
    if (changes_.empty()) {
        return std::nullopt;
    }
    auto first = std::move(changes_.front());
    changes_.pop_front();
    return first;
}

}  // namespace quillbridge
