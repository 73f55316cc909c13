#pragma once

#include <functional>

namespace quillbridge {

// The laptop lid. A machine without a lid, or whose lid cannot be read, reports it open.
class LidStateObserver {
public:
    virtual ~LidStateObserver() = default;

    // Whether the lid is closed now; callable from any thread.
    virtual bool isLidClosed() = 0;
    // Starts calling the handler, on the executor the observer was given, whenever the lid opens or closes.
    // False, with the reason logged, when changes cannot be watched.
    virtual bool start(std::function<void()> lidStateChanged) = 0;
    // Stops the calls; no handler runs once it has returned.
    virtual void stop() = 0;
};

}  // namespace quillbridge
