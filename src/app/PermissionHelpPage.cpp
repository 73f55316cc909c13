#include "app/PermissionHelpPage.hpp"

namespace quillbridge {

std::string_view PermissionHelpPage::section(MandatoryPermissionSequence::Permission permission) {
    switch (permission) {
        case MandatoryPermissionSequence::Permission::screenCapture:
            return screenCaptureSection;
        case MandatoryPermissionSequence::Permission::accessibility:
            return accessibilitySection;
        case MandatoryPermissionSequence::Permission::localNetwork:
            return localNetworkSection;
    }
    return screenCaptureSection;
}

std::string_view PermissionHelpPage::section(MandatoryPermissionIssue issue) {
    switch (issue) {
        case MandatoryPermissionIssue::screenAndAudioCapture:
            return screenCaptureSection;
        case MandatoryPermissionIssue::syntheticInput:
            return accessibilitySection;
        case MandatoryPermissionIssue::localNetwork:
            return localNetworkSection;
    }
    return screenCaptureSection;
}

bool PermissionHelpPage::isSection(std::string_view section) {
    return section == screenCaptureSection || section == accessibilitySection ||
           section == localNetworkSection || section == cameraExtensionSection;
}

}  // namespace quillbridge
