#include "PulseTestTone.hpp"

#include <chrono>
#include <cmath>
#include <numbers>
#include <vector>

#include <pulse/error.h>

namespace quillbridge {
namespace {

constexpr std::uint32_t sampleRate = 48000;
constexpr float amplitude = 0.3f;

}  // namespace

std::unique_ptr<PulseTestTone> PulseTestTone::start(Options options, std::string* error) {
    std::string ignored;
    if (error == nullptr) {
        error = &ignored;
    }
    auto connection = PulseConnection::connect("Quillbridge test tone", std::chrono::seconds(10), error);
    if (!connection) {
        return nullptr;
    }
    std::unique_ptr<PulseTestTone> tone(new PulseTestTone(std::move(options), std::move(connection)));
    PulseConnection::Lock lock(*tone->connection_);
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, sampleRate, 2};
    tone->stream_ = pa_stream_new(tone->connection_->context(), "test tone", &spec, nullptr);
    if (tone->stream_ == nullptr) {
        *error = "pa_stream_new failed";
        return nullptr;
    }
    pa_stream_set_write_callback(tone->stream_, &PulseTestTone::writable, tone.get());
    pa_stream_set_state_callback(
        tone->stream_, [](pa_stream*, void* userdata) { static_cast<PulseConnection*>(userdata)->signal(); },
        tone->connection_.get());
    const auto flags = tone->options_.refusesToMove ? PA_STREAM_DONT_MOVE : PA_STREAM_NOFLAGS;
    const char* device = tone->options_.sink.empty() ? nullptr : tone->options_.sink.c_str();
    if (pa_stream_connect_playback(tone->stream_, device, nullptr, flags, nullptr, nullptr) < 0) {
        *error = pa_strerror(pa_context_errno(tone->connection_->context()));
        return nullptr;
    }
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(tone->stream_);
        if (state == PA_STREAM_READY) {
            break;
        }
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            *error = pa_strerror(pa_context_errno(tone->connection_->context()));
            return nullptr;
        }
        pa_threaded_mainloop_wait(tone->connection_->mainLoop());
    }
    tone->sinkInput_ = pa_stream_get_index(tone->stream_);
    return tone;
}

PulseTestTone::~PulseTestTone() {
    if (stream_ != nullptr) {
        PulseConnection::Lock lock(*connection_);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
}

void PulseTestTone::writable(pa_stream* stream, std::size_t bytes, void* userdata) {
    auto* self = static_cast<PulseTestTone*>(userdata);
    const std::size_t frames = bytes / (2 * sizeof(float));
    std::vector<float> samples(frames * 2);
    for (std::size_t index = 0; index < frames; ++index, ++self->frame_) {
        const double phase = 2 * std::numbers::pi * self->options_.frequencyHertz *
                             static_cast<double>(self->frame_) / sampleRate;
        samples[2 * index] = samples[2 * index + 1] = amplitude * static_cast<float>(std::sin(phase));
    }
    pa_stream_write(stream, samples.data(), frames * 2 * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
}

}  // namespace quillbridge
