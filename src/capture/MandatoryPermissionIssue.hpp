#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace quillbridge {

// A grant the host cannot stream without. The order of the cases is the order of
// allMandatoryPermissionIssues.
enum class MandatoryPermissionIssue {
    // Screen and system audio capture.
    screenAndAudioCapture,
    // The local network, which the listener needs.
    localNetwork,
    // Posting synthetic mouse and keyboard input.
    syntheticInput,
};

inline constexpr std::array<MandatoryPermissionIssue, 3> allMandatoryPermissionIssues{
    MandatoryPermissionIssue::screenAndAudioCapture,
    MandatoryPermissionIssue::localNetwork,
    MandatoryPermissionIssue::syntheticInput,
};

// "screenAndAudioCapture", "localNetwork" or "syntheticInput".
std::string_view rawValue(MandatoryPermissionIssue issue);
// The issue of a raw value; nothing for any other text.
std::optional<MandatoryPermissionIssue> mandatoryPermissionIssueFromRawValue(std::string_view rawValue);

// The alert's title and message for a missing grant.
std::string_view mandatoryPermissionIssueTitle(MandatoryPermissionIssue issue);
std::string_view mandatoryPermissionIssueMessage(MandatoryPermissionIssue issue);

}  // namespace quillbridge
