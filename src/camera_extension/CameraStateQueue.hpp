#pragma once

#include <chrono>
#include <functional>

namespace quillbridge {

// A serial queue: work runs one item at a time, in the order it was queued, never inline. The camera's
// streaming state lives on one ("com.mossharbor.quillbridge.camera-extension.state"). Both calls may come
// from any thread.
class CameraStateQueue {
public:
    static constexpr const char* label = "com.mossharbor.quillbridge.camera-extension.state";

    virtual ~CameraStateQueue() = default;

    virtual void async(std::function<void()> work) = 0;
    // Runs the work on the queue once the delay has passed.
    virtual void asyncAfter(std::chrono::milliseconds delay, std::function<void()> work) = 0;
};

}  // namespace quillbridge
