#include "camera_extension/linux/PipeWireCameraDeviceHost.hpp"

#include <cerrno>
#include <cstring>
#include <string>

namespace quillbridge {

PipeWireCameraDeviceHost::PipeWireCameraDeviceHost(pw_loop& loop, pw_context& context,
                                                   ScheduledOutputSender& scheduledOutputSender,
                                                   CameraExtensionLogger logger)
    : loop_(loop),
      context_(context),
      logger_(std::move(logger)),
      source_(loop),
      sink_(scheduledOutputSender) {}

PipeWireCameraDeviceHost::~PipeWireCameraDeviceHost() {
    removeStreams();
    if (core_ != nullptr) {
        spa_hook_remove(&coreListener_);
        pw_core_disconnect(core_);
    }
}

int PipeWireCameraDeviceHost::makeStreamFormat() {
    spa_pod_builder builder =
        SPA_POD_BUILDER_INIT(formatStorage_.data(), std::uint32_t(formatStorage_.size()));
    format_ = PipeWireCameraFormat::buildFormat(builder);
    return format_ != nullptr ? 0 : -ENOSPC;
}

std::optional<std::string> PipeWireCameraDeviceHost::addStreams(
    std::weak_ptr<PersonaCameraStreamSource> sourceStreamSource,
    std::weak_ptr<PersonaCameraStreamSource> sinkStreamSource) {
    if (format_ == nullptr)
        return std::string("the stream format is missing");
    if (core_ == nullptr) {
        core_ = pw_context_connect(&context_, nullptr, 0);
        if (core_ == nullptr)
            return std::string("Could not connect to PipeWire: ") + std::strerror(errno);
        static const pw_core_events coreEvents = [] {
            pw_core_events events{};
            events.version = PW_VERSION_CORE_EVENTS;
            events.error = &PipeWireCameraDeviceHost::onCoreError;
            return events;
        }();
        pw_core_add_listener(core_, &coreListener_, &coreEvents, this);
    }
    if (auto failure = source_.connect(*core_, *format_, std::move(sourceStreamSource)))
        return failure;
    return sink_.connect(*core_, *format_, std::move(sinkStreamSource));
}

void PipeWireCameraDeviceHost::removeStreams() {
    source_.disconnect();
    sink_.disconnect();
}

std::optional<std::string> PipeWireCameraDeviceHost::addDevice() {
    using Presence = PipeWireCameraNode::Presence;
    const auto deadline = std::chrono::steady_clock::now() + publicationTimeout;
    pw_loop_enter(&loop_);
    while (source_.presence() == Presence::pending || sink_.presence() == Presence::pending) {
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0)
            break;
        pw_loop_iterate(&loop_, int(remaining.count()));
    }
    pw_loop_leave(&loop_);
    for (const PipeWireCameraNode* node :
         {static_cast<const PipeWireCameraNode*>(&source_), static_cast<const PipeWireCameraNode*>(&sink_)}) {
        if (node->presence() == Presence::failed)
            return node->failure().value_or("PipeWire refused the camera's nodes");
        if (node->presence() == Presence::pending)
            return std::string("PipeWire did not make the camera's nodes in time");
    }
    return std::nullopt;
}

void PipeWireCameraDeviceHost::onCoreError(void* data, std::uint32_t id, int, int result,
                                           const char* message) {
    auto& host = *static_cast<PipeWireCameraDeviceHost*>(data);
    if (id != PW_ID_CORE || host.didLogCoreFailure_)
        return;
    host.didLogCoreFailure_ = true;
    host.logger_.error(std::string("PipeWire connection failed: ") + (message != nullptr ? message : "") +
                       " (" + std::strerror(-result) + ")");
}

}  // namespace quillbridge
