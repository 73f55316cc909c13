#pragma once

#include <stdexcept>

namespace quillbridge {

// The one way the clipboard payload stream codec fails on its own account: the bytes on the stream (or
// a payload handed to the writer) break a rule of the format. Which rule is never said.
enum class ClipboardPayloadStreamCodecError {
    invalidPayload,
};

// What the codec throws for a ClipboardPayloadStreamCodecError. The stream's own errors and the
// cancellation of the calling task pass through the codec unchanged.
class ClipboardPayloadStreamCodecException : public std::runtime_error {
public:
    explicit ClipboardPayloadStreamCodecException(ClipboardPayloadStreamCodecError error)
        : std::runtime_error("The clipboard payload is invalid."), error_(error) {}

    ClipboardPayloadStreamCodecError error() const noexcept { return error_; }

private:
    ClipboardPayloadStreamCodecError error_;
};

}  // namespace quillbridge
