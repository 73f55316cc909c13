#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillbridge {

// What the system reports of one installed copy of the camera program.
struct CameraExtensionProperties {
    std::string bundleVersion;
    std::string shortVersion;
    bool isEnabled = false;
    bool isAwaitingUserApproval = false;
    bool isUninstalling = false;

    bool operator==(const CameraExtensionProperties&) const = default;
};

enum class CameraExtensionActivationResult { completed, willCompleteAfterReboot, unknown };
enum class CameraExtensionReplacementAction { cancel, replace };

// Why a request failed. The authorization-required code of the system-extension domain means the user has to
// allow the program first.
struct CameraExtensionRequestError {
    static constexpr int authorizationRequiredCode = 13;

    bool isSystemExtensionDomain = false;
    int code = 0;
    std::string description;
};

using CameraExtensionRequestID = std::uint64_t;

// The answers to a request, delivered on the main actor.
class CameraExtensionRequestDelegate {
public:
    virtual ~CameraExtensionRequestDelegate() = default;

    virtual CameraExtensionReplacementAction actionForReplacingExtension(
        CameraExtensionRequestID request, const CameraExtensionProperties& installed,
        const CameraExtensionProperties& replacement) = 0;
    virtual void requestNeedsUserApproval(CameraExtensionRequestID request) = 0;
    virtual void requestFoundProperties(CameraExtensionRequestID request,
                                        const std::vector<CameraExtensionProperties>& properties) = 0;
    virtual void requestDidFinish(CameraExtensionRequestID request,
                                  CameraExtensionActivationResult result) = 0;
    virtual void requestDidFail(CameraExtensionRequestID request,
                                const CameraExtensionRequestError& error) = 0;
};

// Installs, updates and starts the camera program, and reads its state. Each submission returns at once with
// the request's identifier; the answers go to the delegate (while it lives) on the main actor, the
// replacement question before the finish. Called on the main actor.
class CameraExtensionManager {
public:
    virtual ~CameraExtensionManager() = default;

    virtual CameraExtensionRequestID submitActivationRequest(
        std::weak_ptr<CameraExtensionRequestDelegate> delegate) = 0;
    virtual CameraExtensionRequestID submitPropertiesRequest(
        std::weak_ptr<CameraExtensionRequestDelegate> delegate) = 0;
};

}  // namespace quillbridge
