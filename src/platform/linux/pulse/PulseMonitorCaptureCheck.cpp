#include "platform/linux/pulse/PulseMonitorCaptureCheck.hpp"

#include <memory>
#include <string>

#include <pulse/stream.h>

#include "platform/linux/pulse/PulseConnection.hpp"
#include "platform/linux/pulse/PulseDeadline.hpp"
#include "platform/linux/pulse/PulseIntrospection.hpp"

namespace quillbridge {
namespace {

// With the connection's lock held: connects a record stream to the source and waits until it is ready, has
// failed, or the time-out has passed. The stream is disconnected before returning.
bool recordStreamBecomesReady(const PulseConnection& connection, const std::string& source,
                              std::chrono::milliseconds timeout) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 48000, 2};
    pa_stream* stream = pa_stream_new(connection.context(), "System audio permission check", &spec, nullptr);
    if (stream == nullptr) {
        return false;
    }
    pa_stream_set_state_callback(
        stream, [](pa_stream*, void* userdata) { static_cast<const PulseConnection*>(userdata)->signal(); },
        const_cast<PulseConnection*>(&connection));
    bool ready = false;
    if (pa_stream_connect_record(stream, source.c_str(), nullptr, PA_STREAM_DONT_MOVE) == 0) {
        const PulseDeadline deadline(connection.mainLoop(), timeout);
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            if (state == PA_STREAM_READY) {
                ready = true;
                break;
            }
            if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED || deadline.hasPassed() ||
                !connection.isReady()) {
                break;
            }
            pa_threaded_mainloop_wait(connection.mainLoop());
        }
        pa_stream_disconnect(stream);
    }
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_unref(stream);
    return ready;
}

}  // namespace

PulseMonitorCaptureCheck::Outcome PulseMonitorCaptureCheck::check(std::chrono::milliseconds timeout) {
    std::string error;
    auto connection = PulseConnection::connect("Quillbridge Host", timeout, &error);
    if (!connection) {
        return Outcome::noServer;
    }
    PulseConnection::Lock lock(*connection);
    const auto sink = PulseIntrospection::defaultSinkName(*connection);
    if (!sink) {
        return Outcome::noServer;
    }
    if (sink->empty()) {
        return Outcome::noDefaultSink;
    }
    return recordStreamBecomesReady(*connection, *sink + ".monitor", timeout) ? Outcome::available
                                                                              : Outcome::monitorRefused;
}

std::string_view PulseMonitorCaptureCheck::describe(Outcome outcome) {
    switch (outcome) {
        case Outcome::available:
            return "system audio can be recorded";
        case Outcome::noServer:
            return "no sound server accepts a connection";
        case Outcome::noDefaultSink:
            return "the sound server has no default output";
        case Outcome::monitorRefused:
            return "the default output's monitor cannot be recorded";
    }
    return "unknown";
}

}  // namespace quillbridge
