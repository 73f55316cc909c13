#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "microphone_plugin/MicrophoneDriverInterface.hpp"
#include "microphone_plugin/linux/MicrophoneProgramLog.hpp"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;

namespace quillbridge {

// The audio-server side of the driver on PipeWire. While the driver lists its device (the box is acquired),
// an "Audio/Source" node, "Quillbridge Microphone", offers 48 kHz mono float audio to desktop applications;
// when the device goes, so does the node. Each graph cycle's process callback, on PipeWire's real-time
// thread, runs one IO cycle of the driver (reading input, with the cycle's CLOCK_MONOTONIC time) straight
// into the node's buffer: it takes no lock and allocates nothing. The driver's IO starts when the node
// streams and stops when it pauses or goes.
class PipeWireMicrophoneSource {
public:
    // Node properties besides the standard ones.
    static constexpr const char* nodeName = "quillbridge-microphone";
    static constexpr const char* deviceUIDProperty = "quillbridge.device.uid";
    // Well below the reader's smallest target of 1440 frames, and a power of two as PipeWire rounds quanta.
    static constexpr const char* nodeLatency = "512/48000";

    // Connects to the user's PipeWire; nothing when it cannot (logged). `disconnected` is called, on
    // PipeWire's thread, if the connection is lost later.
    static std::unique_ptr<PipeWireMicrophoneSource> start(MicrophoneDriverRef driver,
                                                           MicrophoneProgramLog& log,
                                                           std::function<void()> disconnected);
    ~PipeWireMicrophoneSource();
    PipeWireMicrophoneSource(const PipeWireMicrophoneSource&) = delete;
    PipeWireMicrophoneSource& operator=(const PipeWireMicrophoneSource&) = delete;

    // The driver's announcements: a change of the device list publishes or retracts the node.
    void propertiesChanged(MicrophoneObjectID objectID, std::span<const MicrophonePropertyAddress> addresses);
    // Makes the node match the driver's device list now.
    void refreshPublication();

private:
    PipeWireMicrophoneSource(MicrophoneDriverRef driver, MicrophoneProgramLog& log,
                             std::function<void()> disconnected);
    bool connect();
    bool deviceIsListed() const;
    std::string deviceDescription() const;
    // Both with the loop locked.
    void createStream(const std::string& description);
    void destroyStream();

    static void onProcess(void* data);
    static void onStateChanged(void* data, int oldState, int state, const char* error);
    static void onCoreError(void* data, std::uint32_t id, int sequence, int result, const char* message);

    struct Hooks;

    MicrophoneDriverRef driver_;
    MicrophoneProgramLog& log_;
    std::function<void()> disconnected_;
    std::unique_ptr<Hooks> hooks_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    // Touched on PipeWire's loop thread, or with the loop locked.
    bool ioStarted_ = false;
    // Touched on the real-time thread only.
    std::uint64_t cycleCounter_ = 0;
    // One refresh at a time.
    std::mutex refreshMutex_;
};

}  // namespace quillbridge
