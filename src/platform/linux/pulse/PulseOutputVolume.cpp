#include "platform/linux/pulse/PulseOutputVolume.hpp"

#include <chrono>
#include <type_traits>

#include <pulse/introspect.h>
#include <pulse/volume.h>

#include "core/Logger.hpp"

namespace quillbridge {

namespace {

struct SinkQuery {
    const PulseConnection* connection = nullptr;
    std::string defaultSinkName;
    bool found = false;
    std::string name;
    pa_cvolume volume{};
    bool muted = false;
};

void serverInfoReceived(pa_context*, const pa_server_info* info, void* userdata) {
    auto* query = static_cast<SinkQuery*>(userdata);
    if (info != nullptr && info->default_sink_name != nullptr)
        query->defaultSinkName = info->default_sink_name;
    query->connection->signal();
}

void sinkInfoReceived(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* query = static_cast<SinkQuery*>(userdata);
    if (eol == 0 && info != nullptr && !query->found) {
        query->found = true;
        query->name = info->name;
        query->volume = info->volume;
        query->muted = info->mute != 0;
    }
    if (eol != 0)
        query->connection->signal();
}

struct Completion {
    const PulseConnection* connection = nullptr;
    bool succeeded = false;
};

void operationCompleted(pa_context*, int success, void* userdata) {
    auto* completion = static_cast<Completion*>(userdata);
    completion->succeeded = success != 0;
    completion->connection->signal();
}

// With the loop's lock held: the default sink's state.
bool readDefaultSink(PulseConnection& connection, SinkQuery& query) {
    query.connection = &connection;
    if (!connection.wait(pa_context_get_server_info(connection.context(), serverInfoReceived, &query)))
        return false;
    const char* name = query.defaultSinkName.empty() ? nullptr : query.defaultSinkName.c_str();
    pa_operation* operation =
        name != nullptr
            ? pa_context_get_sink_info_by_name(connection.context(), name, sinkInfoReceived, &query)
            : pa_context_get_sink_info_list(connection.context(), sinkInfoReceived, &query);
    return connection.wait(operation) && query.found;
}

// Connected, with the loop's lock held: what `action` makes of the default sink's state; nothing without a
// server or a default sink.
template <typename Action>
auto withDefaultSink(PulseConnection* pulse, Action action)
    -> std::optional<std::invoke_result_t<Action&, PulseConnection&, SinkQuery&>> {
    if (pulse == nullptr)
        return std::nullopt;
    PulseConnection::Lock lock(*pulse);
    SinkQuery query;
    if (!readDefaultSink(*pulse, query))
        return std::nullopt;
    return action(*pulse, query);
}

// With the loop's lock held: whether the operation that `start` begins (reporting to the completion it is
// given) finishes and succeeds.
template <typename Start>
bool succeeds(PulseConnection& pulse, Start start) {
    Completion completion{&pulse, false};
    const bool finished = pulse.wait(start(&completion));
    return finished && completion.succeeded;
}

}  // namespace

PulseConnection* PulseOutputVolume::connection() {
    if (connection_) {
        PulseConnection::Lock lock(*connection_);
        if (connection_->isReady())
            return connection_.get();
    }
    connection_.reset();
    std::string error;
    connection_ = PulseConnection::connect("Quillbridge", std::chrono::milliseconds(1000), &error);
    return connection_.get();
}

std::optional<PulseOutputVolume::OutputState> PulseOutputVolume::defaultOutput() {
    std::lock_guard guard(mutex_);
    return withDefaultSink(connection(), [](PulseConnection&, const SinkQuery& query) {
        return OutputState{query.name, static_cast<double>(pa_cvolume_avg(&query.volume)) / PA_VOLUME_NORM,
                           query.muted};
    });
}

bool PulseOutputVolume::changeVolume(int direction) {
    std::lock_guard guard(mutex_);
    auto change = [direction](PulseConnection& pulse, SinkQuery& query) {
        auto step = static_cast<pa_volume_t>(PA_VOLUME_NORM * stepFraction);
        if (direction > 0)
            pa_cvolume_inc_clamp(&query.volume, step, PA_VOLUME_NORM);
        else
            pa_cvolume_dec(&query.volume, step);
        return succeeds(pulse, [&](Completion* completion) {
            return pa_context_set_sink_volume_by_name(pulse.context(), query.name.c_str(), &query.volume,
                                                      operationCompleted, completion);
        });
    };
    return withDefaultSink(connection(), change).value_or(false);
}

bool PulseOutputVolume::toggleMute() {
    std::lock_guard guard(mutex_);
    auto toggle = [](PulseConnection& pulse, const SinkQuery& query) {
        return succeeds(pulse, [&](Completion* completion) {
            return pa_context_set_sink_mute_by_name(pulse.context(), query.name.c_str(), query.muted ? 0 : 1,
                                                    operationCompleted, completion);
        });
    };
    return withDefaultSink(connection(), toggle).value_or(false);
}

}  // namespace quillbridge
