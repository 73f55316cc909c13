// A recording application for the microphone benchmarks: a PipeWire capture stream (48 kHz mono float, at a
// 512-frame quantum, real-time process callback) linked to the "quillbridge-microphone" node, which notes the
// time (CLOCK_MONOTONIC) at which its process callback receives each buffer holding the start of a pulse (a
// sample above 0.5 after samples below 0.1).
#pragma once

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillbridge {

inline std::int64_t monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

class PipeWirePulseRecorder {
public:
    PipeWirePulseRecorder() = default;
    PipeWirePulseRecorder(const PipeWirePulseRecorder&) = delete;
    PipeWirePulseRecorder& operator=(const PipeWirePulseRecorder&) = delete;

    bool start() {
        pw_init(nullptr, nullptr);
        loop_ = pw_thread_loop_new("latency-probe", nullptr);
        events_.version = PW_VERSION_STREAM_EVENTS;
        events_.process = [](void* data) { static_cast<PipeWirePulseRecorder*>(data)->process(); };
        pw_properties* properties = pw_properties_new(
            PW_KEY_CONFIG_NAME, "client-rt.conf", PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY,
            "Capture", PW_KEY_MEDIA_ROLE, "Communication", PW_KEY_TARGET_OBJECT, "quillbridge-microphone",
            PW_KEY_NODE_LATENCY, "512/48000", nullptr);
        stream_ = pw_stream_new_simple(pw_thread_loop_get_loop(loop_), "Quillbridge latency probe",
                                       properties, &events_, this);
        std::uint8_t podBuffer[1024];
        spa_pod_builder builder{};
        spa_pod_builder_init(&builder, podBuffer, sizeof(podBuffer));
        spa_audio_info_raw format{};
        format.format = SPA_AUDIO_FORMAT_F32;
        format.rate = 48000;
        format.channels = 1;
        format.position[0] = SPA_AUDIO_CHANNEL_MONO;
        const spa_pod* parameters[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};
        auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                  PW_STREAM_FLAG_RT_PROCESS);
        if (stream_ == nullptr ||
            pw_stream_connect(stream_, PW_DIRECTION_INPUT, PW_ID_ANY, flags, parameters, 1) != 0) {
            return false;
        }
        return pw_thread_loop_start(loop_) == 0;
    }
    ~PipeWirePulseRecorder() {
        if (loop_ != nullptr) {
            pw_thread_loop_stop(loop_);
            if (stream_ != nullptr) {
                pw_stream_destroy(stream_);
            }
            pw_thread_loop_destroy(loop_);
        }
    }

    std::vector<std::int64_t> pulseArrivals() const {
        return {arrivals_.begin(),
                arrivals_.begin() + std::min<std::size_t>(count_.load(), arrivals_.size())};
    }
    std::uint64_t framesReceived() const { return frames_.load(); }

private:
    void process() {
        pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
        if (buffer == nullptr) {
            return;
        }
        std::int64_t now = monotonicNanoseconds();
        spa_data& plane = buffer->buffer->datas[0];
        if (plane.data != nullptr && plane.chunk != nullptr) {
            auto* samples = static_cast<const float*>(plane.data) + plane.chunk->offset / sizeof(float);
            std::size_t count = plane.chunk->size / sizeof(float);
            frames_ += count;
            for (std::size_t index = 0; index < count; ++index) {
                if (!inPulse_ && samples[index] > 0.5f) {
                    inPulse_ = true;
                    std::size_t slot = count_.load();
                    if (slot < arrivals_.size()) {
                        arrivals_[slot] = now;
                        count_.store(slot + 1);
                    }
                } else if (inPulse_ && samples[index] < 0.1f) {
                    inPulse_ = false;
                }
            }
        }
        pw_stream_queue_buffer(stream_, buffer);
    }

    pw_thread_loop* loop_ = nullptr;
    pw_stream* stream_ = nullptr;
    pw_stream_events events_{};
    std::array<std::int64_t, 1024> arrivals_{};
    std::atomic<std::size_t> count_{0};
    std::atomic<std::uint64_t> frames_{0};
    bool inPulse_ = false;
};

}  // namespace quillbridge
