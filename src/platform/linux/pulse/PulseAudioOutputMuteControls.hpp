#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/AudioOutputMuteControls.hpp"
#include "platform/linux/pulse/PulseConnection.hpp"

namespace quillbridge {

// The host's audio outputs on the sound server: every sink but the host's own (PulseHostAudioSink), by its
// name, with the sink's mute switch. Changes
// are watched through the server's sink subscription; each is reported with the sink's mute state as the
// server answers right after the change, when that differs from the state reported before (a sink changes
// for many reasons, and the answer about a change made just before a write tells the state before the write:
// reported as such, it would pass for the user's undoing of the write). Calls block the caller (never the
// loop thread) until the server answers.
class PulseAudioOutputMuteControls final : public AudioOutputMuteControls {
public:
    // Nothing, with the reason in `error`, when no sound server answers within `timeout`.
    static std::unique_ptr<PulseAudioOutputMuteControls> connect(std::chrono::milliseconds timeout,
                                                                 std::string* error);
    ~PulseAudioOutputMuteControls() override;

    std::vector<std::string> outputMuteControls() override;
    std::optional<bool> readMute(const std::string& control) override;
    bool writeMute(const std::string& control, bool muted) override;
    bool observe(const std::string& control, std::function<void(bool muted)> changed) override;
    void stopObserving(const std::string& control) override;

private:
    struct Observer {
        std::string name;
        std::function<void(bool)> changed;
        // The state last reported (at first, the one read when observing began).
        bool muted = false;
    };

    explicit PulseAudioOutputMuteControls(std::unique_ptr<PulseConnection> connection)
        : connection_(std::move(connection)) {}

    // With the lock held: the sink's index and mute state, nothing when it is unknown.
    struct SinkState {
        std::uint32_t index = 0;
        bool muted = false;
    };
    std::optional<SinkState> sinkState(const std::string& name);
    static void subscriptionEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                                  void* userdata);

    bool subscribed_ = false;
    // Touched only with the loop's lock held (the loop thread holds it while it runs callbacks).
    std::map<std::uint32_t, Observer> observers_;
    // Last member: destroyed first, so the loop thread has stopped before the state above goes.
    std::unique_ptr<PulseConnection> connection_;
};

}  // namespace quillbridge
