#include "capture/ScreenRecorder.hpp"

namespace quillbridge {

void ScreenRecorder::recordPermission(MandatoryPermissionIssue issue, bool granted) {
    if (granted) {
        permissionIssues_.erase(issue);
    } else {
        permissionIssues_.insert(issue);
    }
    mandatoryGrantMissing_ = permissionIssues_.contains(MandatoryPermissionIssue::screenAndAudioCapture) ||
                             permissionIssues_.contains(MandatoryPermissionIssue::syntheticInput);
    notify(ScreenRecorderProperty::permissionIssues);
}

void ScreenRecorder::refreshScreenCapturePermission() {
    recordPermission(MandatoryPermissionIssue::screenAndAudioCapture,
                     dependencies_.permissionProbe->isScreenCaptureGranted());
}

void ScreenRecorder::refreshAccessibilityPermission() {
    recordPermission(MandatoryPermissionIssue::syntheticInput,
                     dependencies_.permissionProbe->isSyntheticInputGranted());
}

void ScreenRecorder::refreshPermissionState() {
    if (isPersonaCameraSharingEnabled_ && dependencies_.cameraController) {
        dependencies_.cameraController->refreshExtensionProperties();
    }
    refreshScreenCapturePermission();
    refreshAccessibilityPermission();
    assign(hasCompletedMandatoryPermissionCheck_, true,
           ScreenRecorderProperty::hasCompletedMandatoryPermissionCheck);
}

void ScreenRecorder::requestScreenCapturePermission() {
    auto& probe = *dependencies_.permissionProbe;
    if (probe.isScreenCaptureGranted()) {
        recordPermission(MandatoryPermissionIssue::screenAndAudioCapture, true);
        return;
    }
    probe.requestScreenCaptureAccess();
    recordPermission(MandatoryPermissionIssue::screenAndAudioCapture, probe.isScreenCaptureGranted());
}

void ScreenRecorder::requestAccessibilityPermission() {
    auto& probe = *dependencies_.permissionProbe;
    if (probe.isSyntheticInputGranted()) {
        recordPermission(MandatoryPermissionIssue::syntheticInput, true);
        return;
    }
    probe.requestSyntheticInputAccess();
    refreshAccessibilityPermission();
}

bool ScreenRecorder::canStartStreaming() const {
    return hasCompletedMandatoryPermissionCheck_ &&
           !permissionIssues_.contains(MandatoryPermissionIssue::screenAndAudioCapture) &&
           !permissionIssues_.contains(MandatoryPermissionIssue::syntheticInput) &&
           localNetworkPermissionIsGranted_;
}

asio::awaitable<void> ScreenRecorder::checkMandatoryPermissions() {
    const bool screenGranted = dependencies_.permissionProbe->isScreenCaptureGranted();
    const bool recordedScreenGranted =
        hasCompletedMandatoryPermissionCheck_ &&
        !permissionIssues_.contains(MandatoryPermissionIssue::screenAndAudioCapture);
    const bool inputGranted = dependencies_.permissionProbe->isSyntheticInputGranted();
    const bool recordedInputGranted = hasCompletedMandatoryPermissionCheck_ &&
                                      !permissionIssues_.contains(MandatoryPermissionIssue::syntheticInput);
    if (hasCompletedMandatoryPermissionCheck_ && screenGranted == recordedScreenGranted &&
        inputGranted == recordedInputGranted) {
        co_return;
    }
    co_await resolveLocalNetworkPermission();
}

asio::awaitable<void> ScreenRecorder::resolveLocalNetworkPermission() {
    refreshPermissionState();
    if (!areLocalNetworkPermissionChecksEnabled_ ||
        permissionIssues_.contains(MandatoryPermissionIssue::screenAndAudioCapture) ||
        permissionIssues_.contains(MandatoryPermissionIssue::syntheticInput)) {
        // No advertising before local network handling is enabled or while a grant is missing; a live
        // session is left alone.
        co_await session_->stopListeningIfNotConnected();
        co_return;
    }
    if (!permissionIssues_.contains(MandatoryPermissionIssue::localNetwork)) {
        co_await startHostServicesIfPermitted();
        co_return;
    }
    assign(isResolvingLocalNetworkPermission_, true,
           ScreenRecorderProperty::isResolvingLocalNetworkPermission);
    const bool connected = co_await session_->hasConnection();
    if (!connected) {
        // The restarted listener probes the local network again.
        co_await session_->startObservingKeyboardLayoutChanges();
        co_await session_->restartListening();
    }
}

}  // namespace quillbridge
