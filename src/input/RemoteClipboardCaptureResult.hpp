#pragma once

#include <optional>

#include "wire/ClipboardTransferPayload.hpp"
#include "wire/ClipboardTransferResultCode.hpp"

namespace quillbridge {

// The result of one capture of the desktop clipboard: the payload, or why there is none.
struct RemoteClipboardCaptureResult {
    enum class Kind {
        captured,
        unavailable,  // nothing usable on the clipboard, or a file could not be read
        tooLarge,     // a count or size limit was exceeded
        unsupported,  // a file reference names a directory
    };

    Kind kind = Kind::unavailable;
    std::optional<ClipboardTransferPayload> payload;  // set exactly when captured

    static RemoteClipboardCaptureResult captured(ClipboardTransferPayload payload) {
        return {Kind::captured, std::move(payload)};
    }
    static RemoteClipboardCaptureResult refused(Kind kind) { return {kind, std::nullopt}; }

    // The transfer's result code for a refusal (succeeded for a capture).
    ClipboardTransferResultCode resultCode() const {
        switch (kind) {
            case Kind::captured:
                return ClipboardTransferResultCode::succeeded;
            case Kind::unavailable:
                return ClipboardTransferResultCode::unavailable;
            case Kind::tooLarge:
                return ClipboardTransferResultCode::tooLarge;
            case Kind::unsupported:
                return ClipboardTransferResultCode::unsupported;
        }
        return ClipboardTransferResultCode::failed;
    }
};

}  // namespace quillbridge
