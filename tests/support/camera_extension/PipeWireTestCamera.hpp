#pragma once

#include <pipewire/pipewire.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "camera_extension/CameraImage.hpp"
#include "camera_extension/linux/PipeWireCameraFormat.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

// The frames the camera tests send: frame i is a flat colour (its luma and chroma values follow from i) with
// i written into the first 8 bytes of the first luma row, so that a receiver can tell which frame it got and
// check every pixel of it.
namespace CameraTestFrames {
void fill(const MutableCameraImage& image, std::uint64_t index);
std::uint64_t indexOf(const CameraImage& image);
bool matches(const CameraImage& image, std::uint64_t index);
}  // namespace CameraTestFrames

// A test's own PipeWire client: a thread loop with its own context and connection to the server of the test
// environment. Streams made on it are used under its lock.
class PipeWireTestSession {
public:
    PipeWireTestSession();
    ~PipeWireTestSession();
    PipeWireTestSession(const PipeWireTestSession&) = delete;
    PipeWireTestSession& operator=(const PipeWireTestSession&) = delete;

    bool isConnected() const { return core_ != nullptr; }
    pw_core& core() { return *core_; }
    void lock() { pw_thread_loop_lock(loop_); }
    void unlock() { pw_thread_loop_unlock(loop_); }

private:
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
};

// A pw_stream of a test with its state, waited for from the test's thread.
class PipeWireTestStream {
public:
    virtual ~PipeWireTestStream();

    // Whether the stream streamed within the time.
    bool waitUntilStreaming(std::chrono::milliseconds timeout);
    bool isStreaming();

protected:
    explicit PipeWireTestStream(PipeWireTestSession& session) : session_(session) {}
    // Makes and connects the stream; call it last in the derived constructor (callbacks may come at once).
    void connect(pw_properties* properties, pw_direction direction, pw_stream_flags flags,
                 PipeWireCameraFormat::BufferCounts bufferCounts);
    // Destroys the stream; call it first in the derived destructor.
    void destroy();

    virtual void process() {}

    PipeWireTestSession& session_;
    pw_stream* stream_ = nullptr;

private:
    static void onStateChanged(void* data, pw_stream_state old, pw_stream_state state, const char* error);
    static void onParamChanged(void* data, std::uint32_t id, const spa_pod* param);
    static void onProcess(void* data);

    spa_hook listener_{};
    PipeWireCameraFormat::BufferCounts bufferCounts_;
    std::mutex mutex_;
    std::condition_variable changed_;
    pw_stream_state state_ = PW_STREAM_STATE_UNCONNECTED;
};

// Feeds a node (the camera's sink by default) the way the host does: a driver stream that sends one test
// frame per call, with its sequence number and presentation time in the buffer's header.
class TestCameraProducer final : public PipeWireTestStream {
public:
    explicit TestCameraProducer(PipeWireTestSession& session,
                                std::string_view target = CameraDeviceIdentifiers::sinkNodeName);
    ~TestCameraProducer() override;

    // False when the stream does not stream, has no free buffer or the camera has not taken the last frame
    // yet (which this pushes on again instead: a second queued buffer could be lost).
    bool send(std::uint64_t index, std::int64_t presentationTimeNanoseconds);
};

// Records from a node (the camera's source by default) the way an app does, checking every frame it gets.
class TestCameraConsumer final : public PipeWireTestStream {
public:
    struct Frame {
        std::uint64_t index = 0;
        std::int64_t presentationTimeNanoseconds = 0;
        std::int64_t receivedNanoseconds = 0;
        bool intact = false;
    };

    explicit TestCameraConsumer(PipeWireTestSession& session,
                                std::string_view target = CameraDeviceIdentifiers::sourceNodeName,
                                std::size_t capacity = 8192);
    ~TestCameraConsumer() override;

    bool waitForFrames(std::size_t count, std::chrono::milliseconds timeout);
    // Whether the frame with this index arrived within the time.
    bool waitForIndex(std::uint64_t index, std::chrono::milliseconds timeout);
    std::vector<Frame> frames();

private:
    void process() override;

    std::mutex mutex_;
    std::condition_variable received_;
    // Reserved up front: the process callback never allocates.
    std::vector<Frame> frames_;
};

std::int64_t monotonicNanoseconds();

}  // namespace quillbridge
