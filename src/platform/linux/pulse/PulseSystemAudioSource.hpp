#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <pulse/introspect.h>
#include <pulse/stream.h>

#include "capture/AudioSampleClock.hpp"
#include "capture/CaptureStreamOutput.hpp"
#include "platform/linux/pulse/PulseConnection.hpp"
#include "platform/linux/pulse/PulseRecordStreamTiming.hpp"

namespace quillbridge {

// System audio from the sound server (PulseAudio or pipewire-pulse): records the monitor of the host's own
// sink (PulseHostAudioSink) while it exists, the host being muted, else the monitor of the default sink, as
// 32-bit float, and hands it to the output as planar buffers, on the server connection's loop thread (the
// stream's audio thread). Presentation times are capture times: samples counted from the CLOCK_MONOTONIC time
// at which the server says the first one was captured, so consecutive buffers are spaced exactly by their
// durations; when the count drifts from the server's timing by more than `resyncThreshold` (the server
// stalled or dropped data) the anchor is set again. When the default sink changes, or the host's sink comes
// or goes, recording moves to the monitor to record. A missing or failing sound server is logged and never
// reported as a stream failure: video capture goes on without audio.
class PulseSystemAudioSource {
public:
    struct Options {
        std::uint32_t sampleRate = 48000;
        std::uint8_t channelCount = 2;
        std::chrono::milliseconds connectTimeout{2000};
        // How much audio the server gathers before handing it over.
        std::chrono::milliseconds fragment{10};
        std::chrono::milliseconds resyncThreshold{20};
    };

    PulseSystemAudioSource(Options options, std::shared_ptr<CaptureStreamOutput> output);
    // Stops recording; no buffer is delivered after it returns.
    ~PulseSystemAudioSource();
    PulseSystemAudioSource(const PulseSystemAudioSource&) = delete;
    PulseSystemAudioSource& operator=(const PulseSystemAudioSource&) = delete;

    // Connects and starts recording. False, logged, when there is no sound server or it refused.
    bool start();
    void stop();

    // The sink whose monitor is being recorded (empty when none).
    std::string recordedSinkName() const;
    std::uint64_t resyncCount() const { return resyncs_.load(); }

private:
    static void serverEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                            void* userdata);
    static void serverInfoReceived(pa_context* context, const pa_server_info* info, void* userdata);
    static void hostSinkInfoReceived(pa_context* context, const pa_sink_info* info, int endOfList,
                                     void* userdata);
    static void streamReadable(pa_stream* stream, std::size_t bytes, void* userdata);
    static void streamStateChanged(pa_stream* stream, void* userdata);
    static void streamTimingUpdated(pa_stream* stream, void* userdata);

    // With the loop's lock held.
    void chooseSink();
    void record(const std::string& sinkName);
    void closeStream();
    void deliver(const float* samples, std::size_t frames);

    Options options_;
    std::shared_ptr<CaptureStreamOutput> output_;
    std::unique_ptr<PulseConnection> connection_;
    pa_stream* stream_ = nullptr;
    // Guarded by the loop's lock.
    std::string sinkName_;
    // The default sink last reported, and whether the host's sink was found by the query under way.
    std::string defaultSinkName_;
    bool hostSinkFound_ = false;
    PulseRecordStreamTiming timing_;
    AudioSampleClock clock_;
    mutable std::mutex sinkNameMutex_;
    std::string publishedSinkName_;
    std::atomic<std::uint64_t> resyncs_{0};
};

}  // namespace quillbridge
