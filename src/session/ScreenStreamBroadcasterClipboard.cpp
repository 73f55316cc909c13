#include "session/ScreenStreamBroadcaster.hpp"

// Clipboard transfers to and from the headset. Until they are built, requests are noted and not served.

namespace quillbridge {

void ScreenStreamBroadcaster::handleClipboardTransferRequest(const ClipboardTransferRequestMessage& message) {
    logger_.info("Clipboard transfer ", message.transferID,
                 " requested; clipboard transfers are not available yet");
}

void ScreenStreamBroadcaster::handleClipboardTransferCancel(const ClipboardTransferCancelMessage& message) {
    logger_.info("Clipboard transfer ", message.transferID, " cancelled");
}

}  // namespace quillbridge
