#pragma once

#include <asio/awaitable.hpp>

#include "input/RemoteClipboardCaptureResult.hpp"
#include "wire/ClipboardTransferPayload.hpp"

namespace quillbridge {

// The host's clipboard as the session's clipboard transfers use it (RemoteClipboardController in the
// application). The awaitables complete on the caller's executor.
class ClipboardTransferService {
public:
    virtual ~ClipboardTransferService() = default;

    // A snapshot of the desktop clipboard for a copy to the headset, or why there is none.
    virtual asio::awaitable<RemoteClipboardCaptureResult> captureClipboard() = 0;
    // Puts a pasted payload on the desktop clipboard; true when the clipboard now holds it.
    virtual asio::awaitable<bool> applyRemoteClipboard(ClipboardTransferPayload payload) = 0;
};

}  // namespace quillbridge
