#pragma once

#include <expected>
#include <functional>
#include <vector>

#include "capture/DisplayProvider.hpp"

namespace quillbridge {

// Displays the test sets; a failure when `fails` is set.
class FakeDisplayProvider final : public DisplayProvider {
public:
    std::expected<std::vector<CaptureDisplay>, CaptureStreamFailure> availableDisplays() override {
        ++queries;
        if (fails) {
            return std::unexpected(CaptureStreamFailure{"FakeDomain", -1, "no display server"});
        }
        return displays;
    }
    void setDisplaysChangedHandler(std::function<void()>) override {}

    std::vector<CaptureDisplay> displays;
    bool fails = false;
    int queries = 0;
};

}  // namespace quillbridge
