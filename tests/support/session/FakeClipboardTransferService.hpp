#pragma once

// A stand-in for the desktop clipboard behind the session's clipboard transfers. Used from the test's own
// thread (the session's strand runs there).

#include <deque>
#include <memory>
#include <vector>

#include "core/AsyncChannel.hpp"
#include "session/ClipboardTransferService.hpp"

namespace quillbridge {

class FakeClipboardTransferService final : public ClipboardTransferService {
public:
    asio::awaitable<RemoteClipboardCaptureResult> captureClipboard() override {
        ++captureCount;
        if (captureGate) {
            co_await captureGate->receive();
        }
        if (!nextCaptureResults.empty()) {
            auto result = std::move(nextCaptureResults.front());
            nextCaptureResults.pop_front();
            co_return result;
        }
        co_return captureResult;
    }

    asio::awaitable<bool> applyRemoteClipboard(ClipboardTransferPayload payload) override {
        applied.push_back(std::move(payload));
        co_return applySucceeds;
    }

    RemoteClipboardCaptureResult captureResult =
        RemoteClipboardCaptureResult::refused(RemoteClipboardCaptureResult::Kind::unavailable);
    // Handed over (moved, not copied) by the next captures, first come first; `captureResult` after them.
    std::deque<RemoteClipboardCaptureResult> nextCaptureResults;
    // When set, a capture waits for a value here.
    std::shared_ptr<AsyncChannel<bool>> captureGate;
    bool applySucceeds = true;
    int captureCount = 0;
    std::vector<ClipboardTransferPayload> applied;
};

}  // namespace quillbridge
