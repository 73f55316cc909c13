#pragma once

#include <functional>
#include <utility>

#include "capture/DisplayConfigurationObserver.hpp"
#include "capture/HostPowerEventSource.hpp"
#include "capture/LidStateObserver.hpp"
#include "capture/MandatoryPermissionProbe.hpp"

namespace quillbridge {

// Power and session events that the test emits itself, on the test's own thread (call emit() from the
// executor the code under test expects). A will-sleep event carries a token whose release the test can see.
class FakeHostPowerEventSource final : public HostPowerEventSource {
public:
    bool start(Handler handler) override {
        if (!available) {
            return false;
        }
        handler_ = std::move(handler);
        ++starts;
        return true;
    }
    void stop() override { handler_ = nullptr; }

    bool isStarted() const { return static_cast<bool>(handler_); }
    // Delivers one event; for willSleep the token counts its release in `sleepDelayReleases`.
    void emit(HostPowerEvent event) {
        if (!handler_) {
            return;
        }
        SleepDelayRelease token;
        if (event == HostPowerEvent::willSleep) {
            token = SleepDelayRelease([this] { ++sleepDelayReleases; });
        }
        handler_(event, std::move(token));
    }

    bool available = true;
    int starts = 0;
    int sleepDelayReleases = 0;

private:
    Handler handler_;
};

// A lid the test opens and closes.
class FakeLidStateObserver final : public LidStateObserver {
public:
    bool isLidClosed() override { return lidClosed; }
    bool start(std::function<void()> lidStateChanged) override {
        if (!available) {
            return false;
        }
        handler_ = std::move(lidStateChanged);
        return true;
    }
    void stop() override { handler_ = nullptr; }

    void setLidClosed(bool closed) {
        if (closed == lidClosed) {
            return;
        }
        lidClosed = closed;
        if (handler_) {
            handler_();
        }
    }

    bool available = true;
    bool lidClosed = false;

private:
    std::function<void()> handler_;
};

// Displays the test connects and changes.
class FakeDisplayConfigurationObserver final : public DisplayConfigurationObserver {
public:
    bool isExternalDisplayOnline() override { return externalDisplayOnline; }
    bool start(std::function<void()> displayConfigurationChanged) override {
        if (!available) {
            return false;
        }
        handler_ = std::move(displayConfigurationChanged);
        return true;
    }
    void stop() override { handler_ = nullptr; }

    // One change notification, after setting whether an external display is online.
    void change(bool externalOnline) {
        externalDisplayOnline = externalOnline;
        if (handler_) {
            handler_();
        }
    }

    bool available = true;
    bool externalDisplayOnline = true;

private:
    std::function<void()> handler_;
};

// Grants the test sets; requests count and can grant as a user would in the prompt.
class FakeMandatoryPermissionProbe final : public MandatoryPermissionProbe {
public:
    bool isScreenCaptureGranted() override {
        ++screenCaptureChecks;
        return screenCaptureGranted;
    }
    void requestScreenCaptureAccess() override {
        ++screenCaptureRequests;
        screenCaptureGranted = screenCaptureGranted || grantOnRequest;
    }
    bool isSyntheticInputGranted() override {
        ++syntheticInputChecks;
        return syntheticInputGranted;
    }
    void requestSyntheticInputAccess() override {
        ++syntheticInputRequests;
        syntheticInputGranted = syntheticInputGranted || grantOnRequest;
    }

    bool screenCaptureGranted = true;
    bool syntheticInputGranted = true;
    // Whether a request grants what it asks for (X11 has no prompt: false there).
    bool grantOnRequest = false;
    int screenCaptureChecks = 0;
    int screenCaptureRequests = 0;
    int syntheticInputChecks = 0;
    int syntheticInputRequests = 0;
};

}  // namespace quillbridge
