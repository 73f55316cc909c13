#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "capture/AudioOutputMuteControls.hpp"

namespace quillbridge {

// Audio outputs in memory. The test keeps a handle on the shared state (the controller owns the fake) to set
// controls up, play the user (userSetsMute fires the observers like a sound server would) and inject
// failures.
class FakeAudioOutputMuteControls final : public AudioOutputMuteControls {
public:
    struct Control {
        bool muted = false;
        bool readable = true;
        bool writable = true;
        bool observable = true;
    };
    struct State {
        std::mutex mutex;
        // The outputs reported, in order (a name may repeat, as two roles of one device would).
        std::vector<std::string> outputs;
        std::map<std::string, Control> controls;
        std::map<std::string, std::function<void(bool)>> observers;
        int writes = 0;

        bool muted(const std::string& control) {
            std::lock_guard lock(mutex);
            return controls.at(control).muted;
        }
        bool isObserved(const std::string& control) {
            std::lock_guard lock(mutex);
            return observers.contains(control);
        }
        // Someone other than the controller changes the control.
        void userSetsMute(const std::string& control, bool muted) {
            std::function<void(bool)> observer;
            {
                std::lock_guard lock(mutex);
                controls.at(control).muted = muted;
                if (auto found = observers.find(control); found != observers.end()) {
                    observer = found->second;
                }
            }
            if (observer) {
                observer(muted);
            }
        }
    };

    explicit FakeAudioOutputMuteControls(std::shared_ptr<State> state) : state_(std::move(state)) {}

    std::vector<std::string> outputMuteControls() override {
        std::lock_guard lock(state_->mutex);
        return state_->outputs;
    }
    std::optional<bool> readMute(const std::string& control) override {
        std::lock_guard lock(state_->mutex);
        auto found = state_->controls.find(control);
        if (found == state_->controls.end() || !found->second.readable) {
            return std::nullopt;
        }
        return found->second.muted;
    }
    bool writeMute(const std::string& control, bool muted) override {
        std::function<void(bool)> observer;
        {
            std::lock_guard lock(state_->mutex);
            auto found = state_->controls.find(control);
            if (found == state_->controls.end() || !found->second.writable) {
                return false;
            }
            ++state_->writes;
            found->second.muted = muted;
            if (auto watching = state_->observers.find(control); watching != state_->observers.end()) {
                observer = watching->second;
            }
        }
        // A sound server reports the controller's own changes too.
        if (observer) {
            observer(muted);
        }
        return true;
    }
    bool observe(const std::string& control, std::function<void(bool)> changed) override {
        std::lock_guard lock(state_->mutex);
        auto found = state_->controls.find(control);
        if (found == state_->controls.end() || !found->second.observable) {
            return false;
        }
        state_->observers[control] = std::move(changed);
        return true;
    }
    void stopObserving(const std::string& control) override {
        std::lock_guard lock(state_->mutex);
        state_->observers.erase(control);
    }

private:
    std::shared_ptr<State> state_;
};

}  // namespace quillbridge
