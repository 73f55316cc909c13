#pragma once

#include <expected>
#include <functional>
#include <vector>

#include "capture/CaptureDisplay.hpp"
#include "capture/CaptureStreamFailure.hpp"

namespace quillbridge {

// The displays that capture can use, as the platform reports them.
class DisplayProvider {
public:
    virtual ~DisplayProvider() = default;

    // The enabled displays, in the platform's order; a failure when the platform cannot be asked.
    virtual std::expected<std::vector<CaptureDisplay>, CaptureStreamFailure> availableDisplays() = 0;
    // Called, on a thread of the provider, whenever displays were added, removed or changed mode or place.
    // Replaces the previous handler; an empty one stops the calls.
    virtual void setDisplaysChangedHandler(std::function<void()> handler) = 0;
};

}  // namespace quillbridge
