#include "platform/linux/pulse/PulseSystemAudioRouter.hpp"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

#include <pulse/error.h>
#include <pulse/introspect.h>

#include "core/Logger.hpp"
#include "platform/linux/pulse/PulseHostAudioSink.hpp"

namespace quillbridge {
namespace {

const Logger logger{"SystemAudioMuteController"};

const std::string hostSinkName(PulseHostAudioSink::name);

// Whether a sink name can stand unescaped inside the module's quoted property list.
bool isPlainName(const std::string& name) {
    return !name.empty() && std::ranges::all_of(name, [](char character) {
        return std::isalnum(static_cast<unsigned char>(character)) != 0 || character == '.' ||
               character == '_' || character == '-' || character == ':';
    });
}

std::string moduleArguments(const std::string& replacedDefault) {
    std::string properties = "device.description='" + std::string(PulseHostAudioSink::description) + "'";
    if (isPlainName(replacedDefault) && replacedDefault != hostSinkName) {
        properties +=
            " " + std::string(PulseHostAudioSink::replacedDefaultProperty) + "='" + replacedDefault + "'";
    }
    // The format system-audio capture records, so its monitor needs no conversion.
    return "sink_name=" + hostSinkName + " format=float32le rate=48000 channels=2 sink_properties=\"" +
           properties + "\"";
}

// A sink other than the host's own, present on the server.
bool isRealSink(const std::vector<PulseSinkSummary>& sinks, const std::string& name) {
    return !name.empty() && name != hostSinkName &&
           std::ranges::any_of(sinks, [&](const PulseSinkSummary& sink) { return sink.name == name; });
}

bool refuse(const std::string& reason) {
    logger.error("Could not route the desktop's sound to the capture: ", reason);
    return false;
}

}  // namespace

PulseSystemAudioRouter::PulseSystemAudioRouter(std::chrono::milliseconds connectTimeout)
    : connectTimeout_(connectTimeout) {}

PulseSystemAudioRouter::~PulseSystemAudioRouter() {
    if (connection_) {
        PulseConnection::Lock lock(*connection_);
        pa_context_set_subscribe_callback(connection_->context(), nullptr, nullptr);
        isRouting_ = false;
    }
    // Answers still under way find nothing routed; the connection stops the loop before the state goes.
}

bool PulseSystemAudioRouter::connect() {
    if (connection_) {
        PulseConnection::Lock lock(*connection_);
        if (connection_->isReady()) {
            return true;
        }
    }
    // The server went away, and the host's sink with it: start afresh.
    connection_.reset();
    isRouting_ = false;
    sinkNames_.clear();
    originalSinks_.clear();
    unmovableStreams_.clear();
    pendingMoves_.clear();
    std::string error;
    auto connection = PulseConnection::connect("Quillbridge Host", connectTimeout_, &error);
    if (!connection) {
        logger.error("No sound server for the desktop's sound: ", error);
        return false;
    }
    {
        PulseConnection::Lock lock(*connection);
        pa_context_set_subscribe_callback(connection->context(), &PulseSystemAudioRouter::serverEvent, this);
    }
    connection_ = std::move(connection);
    return true;
}

void PulseSystemAudioRouter::recoverAbandonedRouting() {
    if (!connect()) {
        return;
    }
    PulseConnection::Lock lock(*connection_);
    if (!isRouting_) {
        removeHostSinks();
    }
}

void PulseSystemAudioRouter::removeHostSinks() {
    std::optional<std::vector<PulseSinkSummary>> listed =
        PulseIntrospection::sinks(*connection_, std::string(PulseHostAudioSink::replacedDefaultProperty));
    if (!listed) {
        return;
    }
    const std::vector<PulseSinkSummary>& sinks = *listed;
    std::vector<PulseSinkSummary> leftovers;
    std::ranges::copy_if(sinks, std::back_inserter(leftovers),
                         [](const PulseSinkSummary& sink) { return sink.name == hostSinkName; });
    if (leftovers.empty()) {
        return;
    }
    // The streams go to the default sink; when that is still the host's, to the one it replaced.
    // (PipeWire names a default it has not settled yet "@DEFAULT_SINK@".)
    std::optional<std::string> current = PulseIntrospection::defaultSinkName(*connection_);
    std::string target = current && isRealSink(sinks, *current) ? *current : std::string();
    for (const PulseSinkSummary& leftover : leftovers) {
        if (target.empty() && isRealSink(sinks, leftover.property) && setDefaultSink(leftover.property)) {
            target = leftover.property;
        }
    }
    if (auto streams = PulseIntrospection::sinkInputs(*connection_); streams && !target.empty()) {
        for (const PulseSinkInputSummary& stream : *streams) {
            if (std::ranges::any_of(leftovers, [&](const auto& sink) { return sink.index == stream.sink; })) {
                moveSinkInput(stream.index, target);
            }
        }
    }
    // Streams left in it go to the server's default as the sink goes.
    for (const PulseSinkSummary& leftover : leftovers) {
        if (leftover.ownerModule == PA_INVALID_INDEX || !unloadModule(leftover.ownerModule)) {
            logger.error("Could not remove the private output left by an earlier run: sink=", leftover.index);
        } else {
            logger.notice("Removed the private output left by an earlier run; its streams went to ",
                          target.empty() ? std::string("the default output") : target);
        }
    }
}

bool PulseSystemAudioRouter::routeDesktopAudioToCapture() {
    if (!connect()) {
        return refuse("no sound server");
    }
    PulseConnection::Lock lock(*connection_);
    if (isRouting_) {
        return true;
    }
    // A sink of the host that is still there (a crash, or a restore the server refused) goes first.
    removeHostSinks();
    std::optional<std::vector<PulseSinkSummary>> sinks = PulseIntrospection::sinks(*connection_);
    std::optional<std::string> replaced = PulseIntrospection::defaultSinkName(*connection_);
    if (!sinks || !replaced) {
        return refuse("the sound server did not answer");
    }
    std::optional<std::uint32_t> module = loadHostSink(*replaced);
    if (!module) {
        return refuse(std::string("the sound server refused a null sink: ") +
                      pa_strerror(pa_context_errno(connection_->context())));
    }
    std::optional<std::uint32_t> index = hostSinkIndex(*module);
    if (!index) {
        unloadModule(*module);
        return refuse("the null sink did not appear");
    }
    isRouting_ = true;
    ++generation_;
    hostSinkModule_ = *module;
    hostSinkIndex_ = *index;
    replacedDefault_ = *replaced;
    sinkNames_.clear();
    for (const PulseSinkSummary& sink : *sinks) {
        sinkNames_[sink.index] = sink.name;
    }
    // Watched before the streams are listed, so none that starts meanwhile is missed.
    if (!subscribe(static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                       PA_SUBSCRIPTION_MASK_SINK_INPUT))) {
        logger.error("New audio streams will not follow the desktop's sound: ",
                     pa_strerror(pa_context_errno(connection_->context())));
    }
    if (!setDefaultSink(hostSinkName)) {
        logger.error("Could not make the private output the default: ",
                     pa_strerror(pa_context_errno(connection_->context())));
    }
    moveExistingStreams();
    logger.info("The desktop's sound goes to the capture through ", hostSinkName, " while the host is muted");
    return true;
}

void PulseSystemAudioRouter::moveExistingStreams() {
    std::optional<std::vector<PulseSinkInputSummary>> streams = PulseIntrospection::sinkInputs(*connection_);
    if (!streams) {
        return;
    }
    for (const PulseSinkInputSummary& stream : *streams) {
        if (stream.sink == hostSinkIndex_ || unmovableStreams_.contains(stream.index)) {
            continue;
        }
        auto sink = sinkNames_.find(stream.sink);
        // A stream moved meanwhile from the loop thread keeps the sink it was first seen on.
        originalSinks_.try_emplace(stream.index, sink != sinkNames_.end() ? sink->second : std::string());
        if (!connection_->waitForSuccess([&](pa_context* context, auto answered, void* answer) {
                return pa_context_move_sink_input_by_index(context, stream.index, hostSinkIndex_, answered,
                                                           answer);
            })) {
            originalSinks_.erase(stream.index);
            streamCannotMove(connection_->context(), stream.index);
        }
    }
}

void PulseSystemAudioRouter::restoreDesktopAudioRouting() {
    if (!connection_) {
        return;
    }
    PulseConnection::Lock lock(*connection_);
    if (!isRouting_) {
        return;
    }
    isRouting_ = false;
    ++generation_;
    if (!connection_->isReady()) {
        // The sound server went away, and the host's sink with it.
        logger.error("Could not put the desktop's sound back: the sound server went away");
    } else {
        subscribe(PA_SUBSCRIPTION_MASK_NULL);
        if (auto sinks = PulseIntrospection::sinks(*connection_)) {
            // Streams to the sinks they came from while those are not the default, so each keeps its choice
            // of a sink; then the default, which takes along the streams that follow it (the server lets
            // them); then the rest to the default.
            putStreamsBack(*sinks, false);
            // The user's choice of another default meanwhile stands.
            if (PulseIntrospection::defaultSinkName(*connection_) == hostSinkName &&
                isRealSink(*sinks, replacedDefault_)) {
                setDefaultSink(replacedDefault_);
            }
            putStreamsBack(*sinks, true);
        }
        if (!unloadModule(hostSinkModule_)) {
            logger.error("Could not remove the private output: ",
                         pa_strerror(pa_context_errno(connection_->context())));
        }
    }
    sinkNames_.clear();
    originalSinks_.clear();
    unmovableStreams_.clear();
}

void PulseSystemAudioRouter::putStreamsBack(const std::vector<PulseSinkSummary>& sinks, bool toDefault) {
    std::string target;
    if (toDefault) {
        std::optional<std::string> current = PulseIntrospection::defaultSinkName(*connection_);
        if (!current || !isRealSink(sinks, *current)) {
            // The server puts them on its default as the host's sink goes.
            return;
        }
        target = *current;
    }
    std::optional<std::vector<PulseSinkInputSummary>> streams = PulseIntrospection::sinkInputs(*connection_);
    for (const PulseSinkInputSummary& stream : streams.value_or(std::vector<PulseSinkInputSummary>{})) {
        if (stream.sink != hostSinkIndex_) {
            continue;
        }
        if (!toDefault) {
            auto original = originalSinks_.find(stream.index);
            if (original == originalSinks_.end() || !isRealSink(sinks, original->second)) {
                continue;
            }
            target = original->second;
        }
        if (!moveSinkInput(stream.index, target) &&
            pa_context_errno(connection_->context()) != PA_ERR_NOENTITY) {
            logger.error("Could not move an audio stream back: stream=", stream.index);
        }
    }
}

std::optional<std::uint32_t> PulseSystemAudioRouter::loadHostSink(const std::string& replacedDefault) {
    struct Answer {
        const PulseConnection* connection;
        std::uint32_t index = PA_INVALID_INDEX;
    } answer{connection_.get()};
    const std::string arguments = moduleArguments(replacedDefault);
    pa_operation* operation = pa_context_load_module(
        connection_->context(), "module-null-sink", arguments.c_str(),
        [](pa_context*, std::uint32_t index, void* userdata) {
            auto* answer = static_cast<Answer*>(userdata);
            answer->index = index;
            answer->connection->signal();
        },
        &answer);
    if (!connection_->wait(operation) || answer.index == PA_INVALID_INDEX) {
        return std::nullopt;
    }
    return answer.index;
}

std::optional<std::uint32_t> PulseSystemAudioRouter::hostSinkIndex(std::uint32_t module) {
    // Both servers list the sink by the time they answer the load; a few more asks cover one that lags.
    for (int attempt = 0; attempt < 10; ++attempt) {
        std::optional<std::vector<PulseSinkSummary>> sinks = PulseIntrospection::sinks(*connection_);
        if (!sinks) {
            return std::nullopt;
        }
        for (const PulseSinkSummary& sink : *sinks) {
            if (sink.name == hostSinkName && sink.ownerModule == module) {
                return sink.index;
            }
        }
    }
    return std::nullopt;
}

bool PulseSystemAudioRouter::setDefaultSink(const std::string& name) {
    return connection_->waitForSuccess([&](pa_context* context, auto answered, void* answer) {
        return pa_context_set_default_sink(context, name.c_str(), answered, answer);
    });
}

bool PulseSystemAudioRouter::moveSinkInput(std::uint32_t sinkInput, const std::string& sink) {
    return connection_->waitForSuccess([&](pa_context* context, auto answered, void* answer) {
        return pa_context_move_sink_input_by_name(context, sinkInput, sink.c_str(), answered, answer);
    });
}

bool PulseSystemAudioRouter::unloadModule(std::uint32_t module) {
    return connection_->waitForSuccess([&](pa_context* context, auto answered, void* answer) {
        return pa_context_unload_module(context, module, answered, answer);
    });
}

bool PulseSystemAudioRouter::subscribe(pa_subscription_mask_t mask) {
    return connection_->waitForSuccess([&](pa_context* context, auto answered, void* answer) {
        return pa_context_subscribe(context, mask, answered, answer);
    });
}

void PulseSystemAudioRouter::streamCannotMove(pa_context* context, std::uint32_t sinkInput) {
    // A stream that ended meanwhile is no refusal.
    if (pa_context_errno(context) == PA_ERR_NOENTITY) {
        return;
    }
    if (unmovableStreams_.insert(sinkInput).second) {
        logger.notice("An audio stream refuses to move and stays on its output: stream=", sinkInput);
    }
}

void PulseSystemAudioRouter::serverEvent(pa_context* context, pa_subscription_event_type_t type,
                                         std::uint32_t index, void* userdata) {
    auto* self = static_cast<PulseSystemAudioRouter*>(userdata);
    if (!self->isRouting_) {
        return;
    }
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    pa_operation* operation = nullptr;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && kind == PA_SUBSCRIPTION_EVENT_NEW) {
        operation =
            pa_context_get_sink_input_info(context, index, &PulseSystemAudioRouter::streamAppeared, self);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        self->originalSinks_.erase(index);
        self->unmovableStreams_.erase(index);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK && kind == PA_SUBSCRIPTION_EVENT_NEW) {
        operation =
            pa_context_get_sink_info_by_index(context, index, &PulseSystemAudioRouter::sinkAppeared, self);
    }
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

void PulseSystemAudioRouter::sinkAppeared(pa_context*, const pa_sink_info* info, int endOfList,
                                          void* userdata) {
    auto* self = static_cast<PulseSystemAudioRouter*>(userdata);
    if (endOfList == 0 && info != nullptr && self->isRouting_ && info->name != nullptr) {
        self->sinkNames_[info->index] = info->name;
    }
}

void PulseSystemAudioRouter::streamAppeared(pa_context* context, const pa_sink_input_info* info,
                                            int endOfList, void* userdata) {
    auto* self = static_cast<PulseSystemAudioRouter*>(userdata);
    // A stream born in the host's sink needs no move: it goes to the default output when restored.
    if (endOfList != 0 || info == nullptr || !self->isRouting_ || info->sink == self->hostSinkIndex_ ||
        self->originalSinks_.contains(info->index) || self->unmovableStreams_.contains(info->index)) {
        return;
    }
    auto sink = self->sinkNames_.find(info->sink);
    self->originalSinks_.emplace(info->index, sink != self->sinkNames_.end() ? sink->second : std::string());
    PendingMove& move = self->pendingMoves_.emplace_back(PendingMove{self, info->index, self->generation_});
    pa_operation* operation = pa_context_move_sink_input_by_index(
        context, info->index, self->hostSinkIndex_, &PulseSystemAudioRouter::newStreamMoved, &move);
    if (operation == nullptr) {
        self->pendingMoves_.pop_back();
        self->originalSinks_.erase(info->index);
        self->streamCannotMove(context, info->index);
        return;
    }
    pa_operation_unref(operation);
}

void PulseSystemAudioRouter::newStreamMoved(pa_context* context, int success, void* userdata) {
    auto* move = static_cast<PendingMove*>(userdata);
    PulseSystemAudioRouter* self = move->router;
    const std::uint32_t sinkInput = move->sinkInput;
    const bool isCurrent = move->generation == self->generation_ && self->isRouting_;
    self->pendingMoves_.remove_if([move](const PendingMove& pending) { return &pending == move; });
    if (isCurrent && success == 0) {
        self->originalSinks_.erase(sinkInput);
        self->streamCannotMove(context, sinkInput);
    }
}

}  // namespace quillbridge
