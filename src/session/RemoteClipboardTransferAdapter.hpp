#pragma once

#include <utility>

#include "input/RemoteClipboardController.hpp"
#include "session/ClipboardTransferService.hpp"

namespace quillbridge {

// The session's clipboard transfers carried out by the host's remote clipboard controller.
class RemoteClipboardTransferAdapter final : public ClipboardTransferService {
public:
    // `clipboard` must outlive the adapter.
    explicit RemoteClipboardTransferAdapter(RemoteClipboardController& clipboard) : clipboard_(clipboard) {}

    asio::awaitable<RemoteClipboardCaptureResult> captureClipboard() override {
        co_return co_await clipboard_.captureClipboard();
    }
    asio::awaitable<bool> applyRemoteClipboard(ClipboardTransferPayload payload) override {
        co_return co_await clipboard_.applyRemoteClipboard(std::move(payload));
    }

private:
    RemoteClipboardController& clipboard_;
};

}  // namespace quillbridge
