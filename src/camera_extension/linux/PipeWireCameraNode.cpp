#include "camera_extension/linux/PipeWireCameraNode.hpp"

#include <cerrno>
#include <cstring>

#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

namespace {

std::string text(std::string_view view) {
    return std::string(view);
}

pw_properties* nodeProperties(const PipeWireCameraNode::Description& description) {
    namespace Ids = CameraDeviceIdentifiers;
    pw_properties* properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CLASS, text(description.mediaClass).c_str(),
        PW_KEY_NODE_NAME, text(description.nodeName).c_str(), PW_KEY_NODE_DESCRIPTION,
        text(description.streamName).c_str(), PW_KEY_NODE_NICK, text(description.streamName).c_str(),
        PW_KEY_DEVICE_VENDOR_NAME, text(Ids::manufacturer).c_str(), PW_KEY_DEVICE_PRODUCT_NAME,
        text(Ids::deviceModel).c_str(), nullptr);
    pw_properties_set(properties, text(Ids::deviceUIDPropertyKey).c_str(), text(Ids::deviceUID).c_str());
    pw_properties_set(properties, text(Ids::streamUIDPropertyKey).c_str(),
                      text(description.streamUID).c_str());
    if (!description.mediaRole.empty())
        pw_properties_set(properties, PW_KEY_MEDIA_ROLE, text(description.mediaRole).c_str());
    return properties;
}

}  // namespace

const pw_stream_events PipeWireCameraNode::events = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = &PipeWireCameraNode::onStateChanged;
    events.param_changed = &PipeWireCameraNode::onParamChanged;
    events.add_buffer = &PipeWireCameraNode::onAddBuffer;
    events.remove_buffer = &PipeWireCameraNode::onRemoveBuffer;
    events.process = &PipeWireCameraNode::onProcess;
    return events;
}();

PipeWireCameraNode::~PipeWireCameraNode() {
    disconnect();
}

std::optional<std::string> PipeWireCameraNode::connect(
    pw_core& core, const spa_pod& format, std::weak_ptr<PersonaCameraStreamSource> streamSource) {
    disconnect();
    streamSource_ = std::move(streamSource);
    stream_ = pw_stream_new(&core, text(description_.streamName).c_str(), nodeProperties(description_));
    if (stream_ == nullptr)
        return std::string("Could not create the ") + text(description_.nodeName) +
               " node: " + std::strerror(errno);
    pw_stream_add_listener(stream_, &listener_, &events, this);
    const spa_pod* params[] = {&format};
    const auto direction =
        description_.direction == CameraStreamDirection::source ? PW_DIRECTION_OUTPUT : PW_DIRECTION_INPUT;
    int result = pw_stream_connect(stream_, direction, PW_ID_ANY, description_.flags, params, 1);
    if (result < 0) {
        std::string failure = std::string("Could not connect the ") + text(description_.nodeName) +
                              " node: " + std::strerror(-result);
        disconnect();
        return failure;
    }
    return std::nullopt;
}

void PipeWireCameraNode::disconnect() {
    if (stream_ == nullptr)
        return;
    pw_stream* stream = stream_;
    // Destroying the stream reports its last state changes and buffer removals through the listener first.
    pw_stream_destroy(stream);
    stream_ = nullptr;
    state_ = PW_STREAM_STATE_UNCONNECTED;
    error_.clear();
}

pw_buffer* PipeWireCameraNode::dequeueWritableBuffer(pw_stream& stream) {
    // pw_stream holds at most this many buffers.
    constexpr int maximumBufferCount = 64;
    for (int attempt = 0; attempt < maximumBufferCount; ++attempt) {
        pw_buffer* buffer = pw_stream_dequeue_buffer(&stream);
        if (buffer != nullptr || errno != EBUSY)
            return buffer;
    }
    return nullptr;
}

PipeWireCameraNode::Presence PipeWireCameraNode::presence() const {
    switch (state_) {
        case PW_STREAM_STATE_PAUSED:
        case PW_STREAM_STATE_STREAMING:
            return Presence::present;
        case PW_STREAM_STATE_CONNECTING:
            return Presence::pending;
        case PW_STREAM_STATE_ERROR:
        case PW_STREAM_STATE_UNCONNECTED:
            break;
    }
    return stream_ == nullptr || state_ == PW_STREAM_STATE_ERROR ? Presence::failed : Presence::pending;
}

std::optional<std::string> PipeWireCameraNode::failure() const {
    if (state_ != PW_STREAM_STATE_ERROR)
        return std::nullopt;
    return error_.empty() ? std::string("PipeWire reported an error") : error_;
}

void PipeWireCameraNode::onStateChanged(void* data, pw_stream_state old, pw_stream_state state,
                                        const char* error) {
    auto& node = *static_cast<PipeWireCameraNode*>(data);
    node.state_ = state;
    if (state == PW_STREAM_STATE_ERROR)
        node.error_ = error != nullptr ? error : "";
    const bool wasStreaming = old == PW_STREAM_STATE_STREAMING;
    const bool isStreaming = state == PW_STREAM_STATE_STREAMING;
    if (wasStreaming == isStreaming)
        return;
    node.streamingChanged(isStreaming);
    if (auto streamSource = node.streamSource_.lock()) {
        if (isStreaming)
            streamSource->startStream();
        else
            streamSource->stopStream();
    }
}

void PipeWireCameraNode::onParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
    auto& node = *static_cast<PipeWireCameraNode*>(data);
    if (id != SPA_PARAM_Format || param == nullptr || node.stream_ == nullptr)
        return;
    alignas(8) std::uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    auto params = PipeWireCameraFormat::buildBufferParams(builder, node.description_.bufferCounts);
    if (!params)
        return;
    pw_stream_update_params(node.stream_, params->data(), std::uint32_t(params->size()));
}

void PipeWireCameraNode::onAddBuffer(void* data, pw_buffer* buffer) {
    static_cast<PipeWireCameraNode*>(data)->addBuffer(*buffer);
}

void PipeWireCameraNode::onRemoveBuffer(void* data, pw_buffer* buffer) {
    static_cast<PipeWireCameraNode*>(data)->removeBuffer(*buffer);
}

void PipeWireCameraNode::onProcess(void* data) {
    static_cast<PipeWireCameraNode*>(data)->process();
}

}  // namespace quillbridge
