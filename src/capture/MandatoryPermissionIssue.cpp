#include "capture/MandatoryPermissionIssue.hpp"

namespace quillbridge {

std::string_view rawValue(MandatoryPermissionIssue issue) {
    switch (issue) {
        case MandatoryPermissionIssue::screenAndAudioCapture:
            return "screenAndAudioCapture";
        case MandatoryPermissionIssue::localNetwork:
            return "localNetwork";
        case MandatoryPermissionIssue::syntheticInput:
            return "syntheticInput";
    }
    return {};
}

std::optional<MandatoryPermissionIssue> mandatoryPermissionIssueFromRawValue(std::string_view text) {
    for (MandatoryPermissionIssue issue : allMandatoryPermissionIssues) {
        if (rawValue(issue) == text) {
            return issue;
        }
    }
    return std::nullopt;
}

std::string_view mandatoryPermissionIssueTitle(MandatoryPermissionIssue issue) {
    switch (issue) {
        case MandatoryPermissionIssue::screenAndAudioCapture:
            return "Screen & System Audio Permission Required";
        case MandatoryPermissionIssue::localNetwork:
            return "Local Network Permission Required";
        case MandatoryPermissionIssue::syntheticInput:
            return "Accessibility Permission Required";
    }
    return {};
}

std::string_view mandatoryPermissionIssueMessage(MandatoryPermissionIssue issue) {
    switch (issue) {
        case MandatoryPermissionIssue::screenAndAudioCapture:
            return "Screen & System Audio Recording access is required to stream your Mac\u2019s display and "
                   "audio. "
                   "Allow Quillbridge Host in System Settings to continue.";
        case MandatoryPermissionIssue::localNetwork:
            return "Quillbridge Host needs Local Network access so your Vision Pro can find and connect to "
                   "this Mac.";
        case MandatoryPermissionIssue::syntheticInput:
            return "Accessibility access is required so your Vision Pro can control this Mac. Allow "
                   "Quillbridge "
                   "Host in System Settings to continue.";
    }
    return {};
}

}  // namespace quillbridge
