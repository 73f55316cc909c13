#include "platform/linux/pulse/PulseSystemAudioSource.hpp"

#include <cstdlib>
#include <utility>

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/timeval.h>

#include "core/Logger.hpp"
#include "platform/linux/pulse/PulseHostAudioSink.hpp"

namespace quillbridge {

namespace {

const Logger logger{"SystemAudioCapture"};

}  // namespace

PulseSystemAudioSource::PulseSystemAudioSource(Options options, std::shared_ptr<CaptureStreamOutput> output)
    : options_(options),
      output_(std::move(output)),
      clock_(options.sampleRate,
             static_cast<std::uint64_t>(
                 std::chrono::duration_cast<std::chrono::nanoseconds>(options.resyncThreshold).count()),
             timing_) {}

PulseSystemAudioSource::~PulseSystemAudioSource() {
    stop();
}

bool PulseSystemAudioSource::start() {
    if (connection_) {
        return true;
    }
    std::string error;
    auto connection = PulseConnection::connect("Quillbridge Host", options_.connectTimeout, &error);
    if (!connection) {
        logger.error("System audio is not captured: ", error);
        return false;
    }
    connection_ = std::move(connection);
    PulseConnection::Lock lock(*connection_);
    pa_context_set_subscribe_callback(connection_->context(), &PulseSystemAudioSource::serverEvent, this);
    const auto mask =
        static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK);
    pa_operation* subscribed = pa_context_subscribe(connection_->context(), mask, nullptr, nullptr);
    if (subscribed) {
        pa_operation_unref(subscribed);
    }
    chooseSink();
    return true;
}

void PulseSystemAudioSource::stop() {
    if (!connection_) {
        return;
    }
    {
        PulseConnection::Lock lock(*connection_);
        pa_context_set_subscribe_callback(connection_->context(), nullptr, nullptr);
        closeStream();
    }
    // Joins the loop thread: no callback runs after this.
    connection_.reset();
    std::lock_guard lock(sinkNameMutex_);
    publishedSinkName_.clear();
}

std::string PulseSystemAudioSource::recordedSinkName() const {
    std::lock_guard lock(sinkNameMutex_);
    return publishedSinkName_;
}

void PulseSystemAudioSource::chooseSink() {
    // Answers come in order: the default sink first, then whether the host's sink is there, which decides.
    pa_operation* operation =
        pa_context_get_server_info(connection_->context(), &PulseSystemAudioSource::serverInfoReceived, this);
    if (operation) {
        pa_operation_unref(operation);
    }
    const std::string hostSink(PulseHostAudioSink::name);
    operation = pa_context_get_sink_info_by_name(connection_->context(), hostSink.c_str(),
                                                 &PulseSystemAudioSource::hostSinkInfoReceived, this);
    if (operation) {
        pa_operation_unref(operation);
    }
}

void PulseSystemAudioSource::serverEvent(pa_context*, pa_subscription_event_type_t type, std::uint32_t,
                                         void* userdata) {
    auto* self = static_cast<PulseSystemAudioSource*>(userdata);
    // Every change of a sink asks again, not only its coming and going: PipeWire may list a new sink by name,
    // or name it the default, only a moment after announcing it. Recording moves only when the choice does.
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER || facility == PA_SUBSCRIPTION_EVENT_SINK) {
        self->chooseSink();
    }
}

void PulseSystemAudioSource::serverInfoReceived(pa_context*, const pa_server_info* info, void* userdata) {
    auto* self = static_cast<PulseSystemAudioSource*>(userdata);
    self->defaultSinkName_ =
        info != nullptr && info->default_sink_name != nullptr ? info->default_sink_name : std::string();
}

void PulseSystemAudioSource::hostSinkInfoReceived(pa_context*, const pa_sink_info* info, int endOfList,
                                                  void* userdata) {
    auto* self = static_cast<PulseSystemAudioSource*>(userdata);
    if (endOfList == 0 && info != nullptr) {
        self->hostSinkFound_ = true;
        return;
    }
    const std::string sinkName =
        self->hostSinkFound_ ? std::string(PulseHostAudioSink::name) : self->defaultSinkName_;
    self->hostSinkFound_ = false;
    if (sinkName.empty()) {
        logger.error("System audio is not captured: the sound server has no default output");
        return;
    }
    if (sinkName != self->sinkName_ || self->stream_ == nullptr) {
        self->record(sinkName);
    }
}

void PulseSystemAudioSource::record(const std::string& sinkName) {
    closeStream();
    sinkName_ = sinkName;
    clock_.reset();

    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, options_.sampleRate, options_.channelCount};
    pa_channel_map map;
    pa_channel_map_init_extend(&map, options_.channelCount, PA_CHANNEL_MAP_DEFAULT);
    stream_ = pa_stream_new(connection_->context(), "System audio capture", &spec, &map);
    if (stream_ == nullptr) {
        logger.error("System audio is not captured: ", pa_strerror(pa_context_errno(connection_->context())));
        return;
    }
    pa_stream_set_read_callback(stream_, &PulseSystemAudioSource::streamReadable, this);
    pa_stream_set_state_callback(stream_, &PulseSystemAudioSource::streamStateChanged, this);
    pa_stream_set_latency_update_callback(stream_, &PulseSystemAudioSource::streamTimingUpdated, this);
    timing_.reset(stream_, options_.sampleRate, sizeof(float) * options_.channelCount);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(options_.fragment.count()) * PA_USEC_PER_MSEC, &spec));
    const std::string monitor = sinkName + ".monitor";
    // Timing updates interpolated on the monotonic clock: the latency of each read gives its capture time.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE |
                                       PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_record(stream_, monitor.c_str(), &attributes, flags) < 0) {
        logger.error("System audio is not captured: cannot record ", monitor, ": ",
                     pa_strerror(pa_context_errno(connection_->context())));
        closeStream();
        return;
    }
    logger.info("Capturing system audio from ", monitor);
    std::lock_guard lock(sinkNameMutex_);
    publishedSinkName_ = sinkName;
}

void PulseSystemAudioSource::closeStream() {
    if (stream_ == nullptr) {
        return;
    }
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
    timing_.reset(nullptr, 0, 0);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void PulseSystemAudioSource::streamStateChanged(pa_stream* stream, void* userdata) {
    auto* self = static_cast<PulseSystemAudioSource*>(userdata);
    if (pa_stream_get_state(stream) != PA_STREAM_FAILED) {
        return;
    }
    const int error = pa_context_errno(self->connection_->context());
    {
        std::lock_guard lock(self->sinkNameMutex_);
        self->publishedSinkName_.clear();
    }
    if (error == PA_ERR_KILLED) {
        // The recorded sink went away (the host's own one when the host stops muting, or an unplugged
        // device): recording moves on to the one to record now.
        logger.info("System audio capture lost its output and follows the default one");
        self->closeStream();
        self->chooseSink();
        return;
    }
    logger.error("System audio capture stopped: ", pa_strerror(error));
}

void PulseSystemAudioSource::streamReadable(pa_stream* stream, std::size_t, void* userdata) {
    auto* self = static_cast<PulseSystemAudioSource*>(userdata);
    const std::size_t frameSize = sizeof(float) * self->options_.channelCount;
    for (;;) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) {
            return;
        }
        if (data != nullptr) {
            self->deliver(static_cast<const float*>(data), bytes / frameSize);
        } else {
            // A hole: the samples are missing; keep the timeline.
            self->clock_.skip(bytes / frameSize);
        }
        pa_stream_drop(stream);
    }
}

void PulseSystemAudioSource::streamTimingUpdated(pa_stream*, void* userdata) {
    static_cast<PulseSystemAudioSource*>(userdata)->timing_.timingUpdated();
}

void PulseSystemAudioSource::deliver(const float* samples, std::size_t frames) {
    if (frames == 0) {
        return;
    }
    const std::uint64_t rate = options_.sampleRate;
    // Before the buffer is dropped: the stream's read position is still its first frame.
    const std::uint64_t presentation = clock_.stamp(frames);
    resyncs_.store(clock_.resyncCount());

    auto buffer = std::make_shared<AudioPCMBuffer>();
    buffer->format = AudioPCMFormat{double(rate), options_.channelCount, AudioSampleFormat::float32, false};
    buffer->frameLength = static_cast<std::uint32_t>(frames);
    buffer->presentationTimeNanoseconds = presentation;
    buffer->floatChannels.resize(options_.channelCount);
    for (std::size_t channel = 0; channel < options_.channelCount; ++channel) {
        auto& target = buffer->floatChannels[channel];
        target.resize(frames);
        for (std::size_t frame = 0; frame < frames; ++frame) {
            target[frame] = samples[frame * options_.channelCount + channel];
        }
    }
    output_->captureStreamDidOutputAudioBuffer(std::move(buffer));
}

}  // namespace quillbridge
