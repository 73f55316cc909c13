#include "platform/linux/microphone/PropertyChannelMicrophoneAudioObjectSystem.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <variant>
#include <vector>

#include "virtual_devices/MicrophoneByteOrder.hpp"

namespace quillbridge {

using namespace microphone;

namespace {

constexpr Status unspecifiedStatus = status::unspecified;

}  // namespace

PropertyChannelMicrophoneAudioObjectSystem::PropertyChannelMicrophoneAudioObjectSystem(
    std::string socketPath, std::chrono::milliseconds responseTimeout)
    : socketPath_(std::move(socketPath)), responseTimeout_(responseTimeout) {}

PropertyChannelMicrophoneAudioObjectSystem::~PropertyChannelMicrophoneAudioObjectSystem() {
    std::lock_guard request(requestMutex_);
    disconnect();
}

std::optional<std::string> PropertyChannelMicrophoneAudioObjectSystem::defaultSocketPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') {
        return std::nullopt;
    }
    return std::string(runtime) + "/" + std::string(propertyChannelSocketName);
}

bool PropertyChannelMicrophoneAudioObjectSystem::ensureConnected() {
    {
        std::lock_guard lock(connectionMutex_);
        if (!connectionClosed_) {
            return true;
        }
    }
    disconnect();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath_.empty() || socketPath_.size() >= sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
    int descriptor = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        return false;
    }
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(descriptor);
        return false;
    }
    {
        std::lock_guard lock(connectionMutex_);
        descriptor_ = descriptor;
        connectionClosed_ = false;
        responses_.clear();
    }
    reader_ = std::thread([this, descriptor] { readLoop(descriptor); });
    return true;
}

void PropertyChannelMicrophoneAudioObjectSystem::disconnect() {
    int descriptor = -1;
    {
        std::lock_guard lock(connectionMutex_);
        descriptor = std::exchange(descriptor_, -1);
    }
    if (descriptor >= 0) {
        // Wakes the reader, whose receive then ends.
        ::shutdown(descriptor, SHUT_RDWR);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
    if (descriptor >= 0) {
        ::close(descriptor);
    }
    std::lock_guard lock(connectionMutex_);
    connectionClosed_ = true;
}

void PropertyChannelMicrophoneAudioObjectSystem::readLoop(int descriptor) {
    std::vector<std::uint8_t> record(propertyChannelMaximumMessageByteCount + 1);
    for (;;) {
        ssize_t received = ::recv(descriptor, record.data(), record.size(), 0);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received <= 0) {
            break;
        }
        auto message = decodePropertyChannelMessage(
            std::span<const std::uint8_t>(record.data(), static_cast<std::size_t>(received)));
        if (!message) {
            continue;
        }
        if (auto* response = std::get_if<PropertyChannelResponse>(&*message)) {
            std::lock_guard lock(connectionMutex_);
            responses_[response->requestID] = std::move(*response);
            responseArrived_.notify_all();
        } else if (auto* changed = std::get_if<PropertyChannelPropertiesChanged>(&*message)) {
            announce(*changed);
        }
    }
    std::lock_guard lock(connectionMutex_);
    connectionClosed_ = true;
    responseArrived_.notify_all();
}

void PropertyChannelMicrophoneAudioObjectSystem::announce(const PropertyChannelPropertiesChanged& changed) {
    std::lock_guard calling(listenerCallMutex_);
    std::vector<std::function<void()>> due;
    {
        std::lock_guard lock(listenerMutex_);
        for (const auto& [id, registration] : listeners_) {
            if (registration.object != changed.objectID) {
                continue;
            }
            for (const auto& address : changed.addresses) {
                if (address.selector == registration.selector) {
                    due.push_back(registration.listener);
                    break;
                }
            }
        }
    }
    for (auto& listener : due) {
        listener();
    }
}

std::expected<PropertyChannelValue, Status> PropertyChannelMicrophoneAudioObjectSystem::call(
    PropertyChannelRequest request) {
    std::lock_guard serial(requestMutex_);
    if (!ensureConnected()) {
        return std::unexpected(unspecifiedStatus);
    }
    request.requestID = nextRequestID_++;
    if (nextRequestID_ == 0) {
        nextRequestID_ = 1;
    }
    auto bytes = encodePropertyChannelMessage(request);
    if (!bytes) {
        return std::unexpected(propertyChannelMalformedMessage);
    }
    int descriptor = -1;
    {
        std::lock_guard lock(connectionMutex_);
        descriptor = descriptor_;
    }
    if (::send(descriptor, bytes->data(), bytes->size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(bytes->size())) {
        disconnect();
        return std::unexpected(unspecifiedStatus);
    }
    std::unique_lock lock(connectionMutex_);
    const bool answered = responseArrived_.wait_for(
        lock, responseTimeout_, [&] { return responses_.contains(request.requestID) || connectionClosed_; });
    auto found = responses_.find(request.requestID);
    if (!answered || found == responses_.end()) {
        return std::unexpected(unspecifiedStatus);
    }
    PropertyChannelResponse response = std::move(found->second);
    responses_.erase(found);
    if (response.status != status::ok) {
        return std::unexpected(response.status);
    }
    return std::move(response.value);
}

std::expected<PropertyChannelValue, Status> PropertyChannelMicrophoneAudioObjectSystem::get(
    ObjectID object, PropertySelector selector, PropertyScope scope, PropertyChannelValue qualifier) {
    PropertyChannelRequest request;
    request.operation = PropertyChannelOperation::getPropertyData;
    request.objectID = object;
    request.address = {selector, scope, mainElement};
    request.qualifier = std::move(qualifier);
    return call(std::move(request));
}

std::expected<std::uint32_t, Status> PropertyChannelMicrophoneAudioObjectSystem::getUnsigned(
    ObjectID object, PropertySelector selector, PropertyScope scope) {
    auto value = get(object, selector, scope);
    if (!value) {
        return std::unexpected(value.error());
    }
    if (const auto* number = std::get_if<std::uint32_t>(&*value)) {
        return *number;
    }
    return std::unexpected(status::badPropertySize);
}

std::expected<std::vector<ObjectID>, Status> PropertyChannelMicrophoneAudioObjectSystem::getObjectList(
    ObjectID object, PropertySelector selector, PropertyScope scope) {
    auto value = get(object, selector, scope);
    if (!value) {
        return std::unexpected(value.error());
    }
    const auto* bytes = std::get_if<PropertyChannelBytes>(&*value);
    if (bytes == nullptr || bytes->size() % 4 != 0) {
        return std::unexpected(status::badPropertySize);
    }
    std::vector<ObjectID> objects;
    for (std::size_t at = 0; at < bytes->size(); at += 4) {
        objects.push_back(loadLittleEndian<std::uint32_t>(bytes->data() + at));
    }
    return objects;
}

Status PropertyChannelMicrophoneAudioObjectSystem::set(ObjectID object, PropertySelector selector,
                                                       PropertyChannelValue value) {
    PropertyChannelRequest request;
    request.operation = PropertyChannelOperation::setPropertyData;
    request.objectID = object;
    request.address = {selector, scope::global, mainElement};
    request.data = std::move(value);
    auto result = call(std::move(request));
    return result ? status::ok : result.error();
}

std::expected<ObjectID, Status> PropertyChannelMicrophoneAudioObjectSystem::translateUIDToBox(
    std::string_view uid) {
    auto value = get(systemObjectID, selector::translateUIDToBox, scope::global, std::string(uid));
    if (!value) {
        return std::unexpected(value.error());
    }
    if (const auto* box = std::get_if<std::uint32_t>(&*value)) {
        return *box;
    }
    return std::unexpected(status::badPropertySize);
}

std::expected<std::vector<ObjectID>, Status> PropertyChannelMicrophoneAudioObjectSystem::deviceList() {
    return getObjectList(systemObjectID, selector::deviceList, scope::global);
}

std::expected<std::string, Status> PropertyChannelMicrophoneAudioObjectSystem::deviceUID(ObjectID device) {
    auto value = get(device, selector::deviceUID, scope::global);
    if (!value) {
        return std::unexpected(value.error());
    }
    if (auto* text = std::get_if<std::string>(&*value)) {
        return std::move(*text);
    }
    return std::unexpected(status::badPropertySize);
}

Status PropertyChannelMicrophoneAudioObjectSystem::setBoxAcquired(ObjectID box, bool acquired) {
    return set(box, selector::acquired, std::uint32_t{acquired ? 1u : 0u});
}

Status PropertyChannelMicrophoneAudioObjectSystem::setAudioPacket(ObjectID device,
                                                                  std::span<const std::uint8_t> packet) {
    return set(device, selector::audioPacket, PropertyChannelBytes(packet.begin(), packet.end()));
}

std::expected<PropertyChannelDictionary, Status> PropertyChannelMicrophoneAudioObjectSystem::diagnostics(
    ObjectID device) {
    auto value = get(device, selector::diagnostics, scope::global);
    if (!value) {
        return std::unexpected(value.error());
    }
    if (auto* dictionary = std::get_if<PropertyChannelDictionary>(&*value)) {
        return std::move(*dictionary);
    }
    return std::unexpected(status::badPropertySize);
}

std::expected<std::uint32_t, Status> PropertyChannelMicrophoneAudioObjectSystem::isRunning(ObjectID device) {
    return getUnsigned(device, selector::isRunning, scope::global);
}

std::expected<std::vector<ObjectID>, Status> PropertyChannelMicrophoneAudioObjectSystem::processList() {
    return getObjectList(systemObjectID, processObjectListSelector, scope::global);
}

std::expected<std::vector<ObjectID>, Status> PropertyChannelMicrophoneAudioObjectSystem::processInputDevices(
    ObjectID process) {
    return getObjectList(process, processDevicesSelector, scope::input);
}

std::expected<std::uint32_t, Status> PropertyChannelMicrophoneAudioObjectSystem::processIsRunningInput(
    ObjectID process) {
    return getUnsigned(process, processIsRunningInputSelector, scope::global);
}

std::expected<MicrophoneAudioObjectSystem::ListenerID, Status>
PropertyChannelMicrophoneAudioObjectSystem::addListener(ObjectID object, PropertySelector selector,
                                                        PropertyScope scope, std::function<void()> listener) {
    std::lock_guard lock(listenerMutex_);
    ListenerID id = nextListenerID_++;
    listeners_[id] = Registration{object, selector, scope, std::move(listener)};
    return id;
}

void PropertyChannelMicrophoneAudioObjectSystem::removeListener(ListenerID listener) {
    // Waits for a listener call under way (unless it is this thread's own).
    std::lock_guard calling(listenerCallMutex_);
    std::lock_guard lock(listenerMutex_);
    listeners_.erase(listener);
}

}  // namespace quillbridge
