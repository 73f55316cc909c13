#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <asio/any_io_executor.hpp>

#include "bridge/CameraExtensionManager.hpp"

namespace quillbridge {

// Activates the camera program as its systemd user service: enables and starts the unit through the user
// manager (org.freedesktop.systemd1 on the session bus). Where no user manager answers, it starts the program
// as a child of the host instead and restarts it whenever it ends, until the manager goes. The state reading
// asks the manager for the unit file's state (enabled or not). Each request runs on a thread of its own; its
// answer goes to the delegate on the main actor.
//
// Linux has no user approval and no restart to wait for: activations complete or fail. The program is built
// with the host, so an installed unit is never a different version to replace.
class SystemdCameraExtensionManager final : public CameraExtensionManager {
public:
    // programPath: the program to run as a child when there is no user manager.
    SystemdCameraExtensionManager(asio::any_io_executor mainActor, std::string programPath);
    // Waits for the requests still running (each call times out) and stops the child, if any.
    ~SystemdCameraExtensionManager() override;
    SystemdCameraExtensionManager(const SystemdCameraExtensionManager&) = delete;
    SystemdCameraExtensionManager& operator=(const SystemdCameraExtensionManager&) = delete;

    CameraExtensionRequestID submitActivationRequest(
        std::weak_ptr<CameraExtensionRequestDelegate> delegate) override;
    CameraExtensionRequestID submitPropertiesRequest(
        std::weak_ptr<CameraExtensionRequestDelegate> delegate) override;

    // Whether the program runs as a child of the host (the fallback).
    bool isRunningChild() const;
    // The child's process id while one runs.
    pid_t childProcessID() const;

private:
    struct Request {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> isFinished;
    };

    // Runs the work on a thread of its own; the lock is held.
    void startRequest(std::function<void()> work);
    void superviseChild();

    asio::any_io_executor mainActor_;
    std::string programPath_;
    mutable std::mutex mutex_;
    std::condition_variable stopping_;
    CameraExtensionRequestID lastRequestID_ = 0;
    std::vector<Request> requests_;
    bool isStopping_ = false;
    bool childRequested_ = false;
    pid_t child_ = -1;
    std::jthread supervisor_;
};

}  // namespace quillbridge
