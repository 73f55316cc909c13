#pragma once

#include <functional>

namespace quillbridge {

// The host's display configuration: whether an external display is online, and when displays are connected,
// disconnected, or change mode or place.
class DisplayConfigurationObserver {
public:
    virtual ~DisplayConfigurationObserver() = default;

    // Whether at least one connected display is not built into the machine; false when the displays cannot be
    // listed. Callable from any thread.
    virtual bool isExternalDisplayOnline() = 0;
    // Starts calling the handler, on the executor the observer was given, for every change of the display
    // configuration. False, with the reason logged, when changes cannot be watched.
    virtual bool start(std::function<void()> displayConfigurationChanged) = 0;
    // Stops the calls; no handler runs once it has returned.
    virtual void stop() = 0;
};

}  // namespace quillbridge
