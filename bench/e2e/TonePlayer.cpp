#include "TonePlayer.hpp"

#include <cmath>
#include <numbers>
#include <vector>

#include <pulse/error.h>
#include <pulse/simple.h>

namespace quillbridge {

namespace {

constexpr std::uint32_t sampleRate = 48000;
constexpr std::size_t framesPerWrite = 480;

}  // namespace

std::unique_ptr<TonePlayer> TonePlayer::start(double frequencyHertz, std::string* error) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, sampleRate, 2};
    // A short buffer keeps the writes paced by the sink.
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(sizeof(float) * 2 * framesPerWrite * 4);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    int code = 0;
    pa_simple* stream = pa_simple_new(nullptr, "quillbridge-e2e-bench", PA_STREAM_PLAYBACK, nullptr, "tone",
                                      &spec, nullptr, &attributes, &code);
    if (stream == nullptr) {
        if (error != nullptr) {
            *error = pa_strerror(code);
        }
        return nullptr;
    }
    return std::unique_ptr<TonePlayer>(new TonePlayer(stream, frequencyHertz));
}

TonePlayer::TonePlayer(pa_simple* stream, double frequencyHertz)
    : stream_(stream), frequencyHertz_(frequencyHertz), thread_([this] { run(); }) {}

TonePlayer::~TonePlayer() {
    stopping_ = true;
    thread_.join();
    pa_simple_free(stream_);
}

void TonePlayer::run() {
    std::vector<float> samples(framesPerWrite * 2);
    double phase = 0;
    const double step = 2 * std::numbers::pi * frequencyHertz_ / sampleRate;
    while (!stopping_) {
        for (std::size_t frame = 0; frame < framesPerWrite; ++frame) {
            const auto value = static_cast<float>(0.5 * std::sin(phase));
            samples[frame * 2] = value;
            samples[frame * 2 + 1] = value;
            phase = std::fmod(phase + step, 2 * std::numbers::pi);
        }
        int code = 0;
        // Blocks until the sink has room: the sound server sets the pace.
        if (pa_simple_write(stream_, samples.data(), samples.size() * sizeof(float), &code) < 0) {
            return;
        }
    }
}

}  // namespace quillbridge
