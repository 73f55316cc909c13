#pragma once

// Stand-ins for the virtual camera and microphone of the host. The camera fakes are used on the test's
// thread; the microphone fake is called on the recorder's microphone queue, so its state is guarded.

#include <cstdint>
#include <expected>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "bridge/PersonaVirtualCameraController.hpp"
#include "bridge/PersonaVirtualCameraFeeder.hpp"
#include "bridge/VirtualMicrophoneDevice.hpp"

namespace quillbridge {

class FakePersonaVirtualCameraController final : public PersonaVirtualCameraController {
public:
    void activateExtension() override { ++activationCount; }
    void refreshExtensionProperties() override { ++propertiesRequestCount; }
    void postDemandQuery() override {
        ++demandQueryCount;
        handlersWereInstalledAtDemandQuery = demandChanged && permissionStateChanged;
    }
    void setDemandChangedHandler(std::function<void(bool)> handler) override {
        demandChanged = std::move(handler);
    }
    void setPermissionStateChangedHandler(std::function<void(PermissionState)> handler) override {
        permissionStateChanged = std::move(handler);
    }

    int activationCount = 0;
    int propertiesRequestCount = 0;
    int demandQueryCount = 0;
    bool handlersWereInstalledAtDemandQuery = false;
    std::function<void(bool)> demandChanged;
    std::function<void(PermissionState)> permissionStateChanged;
};

class FakePersonaVirtualCameraFeeder final : public PersonaVirtualCameraFeeder {
public:
    void setWantsToFeed(bool wantsToFeed) override { feeding.push_back(wantsToFeed); }

    std::vector<bool> feeding;
};

class FakeVirtualMicrophoneDevice final : public VirtualMicrophoneDevice {
public:
    struct Submission {
        std::uint64_t captureTimeNanoseconds = 0;
        std::int64_t targetHostTimeNanoseconds = 0;
        std::int64_t targetBufferFrameCount = 0;
        std::int64_t frameCount = 0;
        std::size_t byteCount = 0;
        bool operator==(const Submission&) const = default;
    };

    std::expected<void, VirtualMicrophoneDeviceError> publish() override {
        std::function<void()> hook;
        {
            std::lock_guard lock(mutex);
            ++publishCount;
            hook = onPublish;
        }
        // Lets a test hold the queue inside publication.
        if (hook) {
            hook();
        }
        std::lock_guard lock(mutex);
        if (publishFailure) {
            return std::unexpected(*publishFailure);
        }
        published = true;
        return {};
    }
    void stop() override {
        std::lock_guard lock(mutex);
        ++stopCount;
        published = false;
    }
    bool rendererIsRunning() const override {
        std::lock_guard lock(mutex);
        return rendererRunning;
    }
    std::uint64_t halAudioGeneration() const override {
        std::lock_guard lock(mutex);
        return generation;
    }
    void setHalAudioGeneration(std::uint64_t value) override {
        std::lock_guard lock(mutex);
        generation = value;
    }
    void submitAudio(std::uint64_t captureTime, std::int64_t targetHostTime, std::int64_t targetBufferFrames,
                     std::int64_t frameCount, const Bytes& samples) override {
        std::lock_guard lock(mutex);
        submissions.push_back({captureTime, targetHostTime, targetBufferFrames, frameCount, samples.size()});
    }
    void setDemandChangedHandler(std::function<void(bool)> handler) override {
        std::lock_guard lock(mutex);
        demandChanged = std::move(handler);
    }

    bool isPublished() const {
        std::lock_guard lock(mutex);
        return published;
    }

    // Reports a change of demand as the device's own thread would.
    void reportDemand(bool demanded) {
        std::function<void(bool)> handler;
        {
            std::lock_guard lock(mutex);
            handler = demandChanged;
        }
        if (handler) {
            handler(demanded);
        }
    }

    mutable std::mutex mutex;
    int publishCount = 0;
    int stopCount = 0;
    bool published = false;
    bool rendererRunning = true;
    std::uint64_t generation = 0;
    std::optional<VirtualMicrophoneDeviceError> publishFailure;
    std::function<void()> onPublish;
    std::vector<Submission> submissions;
    std::function<void(bool)> demandChanged;
};

}  // namespace quillbridge
