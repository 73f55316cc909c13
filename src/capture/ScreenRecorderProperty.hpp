#pragma once

namespace quillbridge {

// The recorder's observable properties; each change of value is announced once with its property.
enum class ScreenRecorderProperty {
    isRunning,
    streamingStatus,
    permissionIssues,
    isResolvingLocalNetworkPermission,
    hasCompletedMandatoryPermissionCheck,
    localNetworkPermissionIsGranted,
    enablePeerToPeer,
    pairingPrompt,
    pairedPeers,
    isConnected,
    isPersonaCameraSharingEnabled,
    isMicrophoneSharingEnabled,
    virtualMicrophoneErrorMessage,
    personaCameraExtensionPermissionState,
    selectedDisplay,
    availableDisplays,
    displayConfigurationRevision,
    requestedVideoCodec,
    isHDREnabled,
};

}  // namespace quillbridge
