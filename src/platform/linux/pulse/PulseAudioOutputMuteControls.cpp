#include "platform/linux/pulse/PulseAudioOutputMuteControls.hpp"

#include <pulse/introspect.h>
#include <pulse/subscribe.h>

#include "platform/linux/pulse/PulseHostAudioSink.hpp"
#include "platform/linux/pulse/PulseIntrospection.hpp"

namespace quillbridge {

std::unique_ptr<PulseAudioOutputMuteControls> PulseAudioOutputMuteControls::connect(
    std::chrono::milliseconds timeout, std::string* error) {
    auto connection = PulseConnection::connect("Quillbridge Host", timeout, error);
    if (!connection) {
        return nullptr;
    }
    return std::unique_ptr<PulseAudioOutputMuteControls>(
        new PulseAudioOutputMuteControls(std::move(connection)));
}

PulseAudioOutputMuteControls::~PulseAudioOutputMuteControls() {
    PulseConnection::Lock lock(*connection_);
    pa_context_set_subscribe_callback(connection_->context(), nullptr, nullptr);
    observers_.clear();
    // Answers still under way find no observer; the connection stops the loop before the map goes.
}

std::vector<std::string> PulseAudioOutputMuteControls::outputMuteControls() {
    PulseConnection::Lock lock(*connection_);
    if (!connection_->isReady()) {
        return {};
    }
    std::optional<std::vector<PulseSinkSummary>> sinks = PulseIntrospection::sinks(*connection_);
    if (!sinks) {
        return {};
    }
    std::vector<std::string> names;
    for (const PulseSinkSummary& sink : *sinks) {
        // The host's own output carries the sound to the capture: muting it would silence the capture.
        if (sink.name != PulseHostAudioSink::name) {
            names.push_back(sink.name);
        }
    }
    return names;
}

std::optional<PulseAudioOutputMuteControls::SinkState> PulseAudioOutputMuteControls::sinkState(
    const std::string& name) {
    struct Query {
        const PulseConnection* connection;
        std::optional<SinkState> state;
    } query{connection_.get(), std::nullopt};
    if (!connection_->isReady()) {
        return std::nullopt;
    }
    pa_operation* operation = pa_context_get_sink_info_by_name(
        connection_->context(), name.c_str(),
        [](pa_context*, const pa_sink_info* info, int endOfList, void* userdata) {
            auto* query = static_cast<Query*>(userdata);
            if (endOfList != 0 || info == nullptr) {
                query->connection->signal();
                return;
            }
            query->state = SinkState{info->index, info->mute != 0};
        },
        &query);
    if (!connection_->wait(operation)) {
        return std::nullopt;
    }
    return query.state;
}

std::optional<bool> PulseAudioOutputMuteControls::readMute(const std::string& control) {
    PulseConnection::Lock lock(*connection_);
    std::optional<SinkState> state = sinkState(control);
    if (!state) {
        return std::nullopt;
    }
    return state->muted;
}

bool PulseAudioOutputMuteControls::writeMute(const std::string& control, bool muted) {
    PulseConnection::Lock lock(*connection_);
    if (!connection_->isReady()) {
        return false;
    }
    return connection_->waitForSuccess([&](pa_context* context, auto answered, void* answer) {
        return pa_context_set_sink_mute_by_name(context, control.c_str(), muted ? 1 : 0, answered, answer);
    });
}

bool PulseAudioOutputMuteControls::observe(const std::string& control,
                                           std::function<void(bool muted)> changed) {
    PulseConnection::Lock lock(*connection_);
    std::optional<SinkState> state = sinkState(control);
    if (!state) {
        return false;
    }
    if (!subscribed_) {
        pa_context_set_subscribe_callback(connection_->context(), subscriptionEvent, this);
        const bool subscribed =
            connection_->waitForSuccess([](pa_context* context, auto answered, void* answer) {
                return pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SINK, answered, answer);
            });
        if (!subscribed) {
            return false;
        }
        subscribed_ = true;
    }
    observers_[state->index] = Observer{control, std::move(changed), state->muted};
    return true;
}

void PulseAudioOutputMuteControls::stopObserving(const std::string& control) {
    PulseConnection::Lock lock(*connection_);
    std::erase_if(observers_, [&](const auto& entry) { return entry.second.name == control; });
}

void PulseAudioOutputMuteControls::subscriptionEvent(pa_context* context, pa_subscription_event_type_t type,
                                                     std::uint32_t index, void* userdata) {
    // On the loop thread, with the lock held.
    auto* self = static_cast<PulseAudioOutputMuteControls*>(userdata);
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK ||
        (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE ||
        !self->observers_.contains(index)) {
        return;
    }
    // Ask for the state now; the answer comes back in order with later changes.
    pa_operation* operation = pa_context_get_sink_info_by_index(
        context, index,
        [](pa_context*, const pa_sink_info* info, int endOfList, void* userdata) {
            if (endOfList != 0 || info == nullptr) {
                return;
            }
            auto* self = static_cast<PulseAudioOutputMuteControls*>(userdata);
            auto observer = self->observers_.find(info->index);
            if (observer != self->observers_.end() && observer->second.name == info->name &&
                observer->second.muted != (info->mute != 0)) {
                observer->second.muted = info->mute != 0;
                observer->second.changed(observer->second.muted);
            }
        },
        self);
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

}  // namespace quillbridge
