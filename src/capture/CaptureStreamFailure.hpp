#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillbridge {

// The error domain of failures that our own capture streams report, and its codes.
inline constexpr std::string_view captureStreamErrorDomain = "com.quillbridge.CaptureStream";
namespace captureStreamErrorCode {
// The stream could not be created or started (no display server, missing extension, bad rectangle).
inline constexpr std::int64_t startFailed = -3802;
// The captured display went away (its output was disabled or disconnected).
inline constexpr std::int64_t displayUnavailable = -3815;
// The connection to the display server broke.
inline constexpr std::int64_t connectionBroken = -3805;
// The user stopped the stream; capture is not restarted after it.
inline constexpr std::int64_t userStopped = -3817;
}  // namespace captureStreamErrorCode

// Why a capture stream stopped or refused to start: the platform error's domain, code and message.
struct CaptureStreamFailure {
    std::string domain;
    std::int64_t code = 0;
    std::string message;

    const std::string& localizedDescription() const { return message; }

    bool operator==(const CaptureStreamFailure&) const = default;
};

}  // namespace quillbridge
