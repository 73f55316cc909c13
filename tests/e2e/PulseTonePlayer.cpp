#include "PulseTonePlayer.hpp"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include <pulse/error.h>
#include <pulse/simple.h>

namespace quillbridge {
namespace {

constexpr std::uint32_t sampleRate = 48000;
constexpr std::size_t framesPerWrite = 480;

}  // namespace

std::unique_ptr<PulseTonePlayer> PulseTonePlayer::start(double frequencyHertz, std::string* error,
                                                        Buffer buffer) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, sampleRate, 2};
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(sizeof(float) * 2 * framesPerWrite * 4);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    int code = 0;
    pa_simple* stream = pa_simple_new(nullptr, "quillbridge-e2e", PA_STREAM_PLAYBACK, nullptr, "tone", &spec,
                                      nullptr, buffer == Buffer::shortest ? &attributes : nullptr, &code);
    if (stream == nullptr) {
        if (error != nullptr) {
            *error = pa_strerror(code);
        }
        return nullptr;
    }
    std::unique_ptr<PulseTonePlayer> player(new PulseTonePlayer(stream, frequencyHertz));
    player->thread_ = std::thread([raw = player.get()] { raw->run(); });
    return player;
}

PulseTonePlayer::PulseTonePlayer(void* stream, double frequencyHertz)
    : stream_(stream), frequencyHertz_(frequencyHertz) {}

PulseTonePlayer::~PulseTonePlayer() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    pa_simple_free(static_cast<pa_simple*>(stream_));
}

void PulseTonePlayer::run() {
    std::vector<float> samples(framesPerWrite * 2);
    std::uint64_t frame = 0;
    while (!stopping_) {
        for (std::size_t index = 0; index < framesPerWrite; ++index, ++frame) {
            const double phase = 2 * std::numbers::pi * frequencyHertz_ * static_cast<double>(frame) /
                                 static_cast<double>(sampleRate);
            const float value = static_cast<float>(0.5 * std::sin(phase));
            samples[2 * index] = value;
            samples[2 * index + 1] = value;
        }
        int code = 0;
        // Blocks while the server's buffer is full: the tone plays in real time.
        if (pa_simple_write(static_cast<pa_simple*>(stream_), samples.data(), samples.size() * sizeof(float),
                            &code) < 0) {
            return;
        }
    }
}

}  // namespace quillbridge
