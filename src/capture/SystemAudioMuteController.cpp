#include "capture/SystemAudioMuteController.hpp"

#include <set>
#include <vector>

namespace quillbridge {

std::string_view muteErrorDescription(MuteError error) {
    switch (error) {
        case MuteError::noSettableMuteControl:
            return "The active audio output device does not provide a settable mute control.";
    }
    return {};
}

SystemAudioMuteController::SystemAudioMuteController(std::unique_ptr<AudioOutputMuteControls> controls,
                                                     std::unique_ptr<SystemAudioRouting> routing)
    : controls_(std::move(controls)), routing_(std::move(routing)) {
    if (routing_) {
        // Off the caller's thread: the sound server may take a moment to answer.
        queue_.async([this] { routing_->recoverAbandonedRouting(); });
    }
}

SystemAudioMuteController::~SystemAudioMuteController() {
    queue_.sync([this] { restoreOnQueue(); });
}

std::expected<void, MuteError> SystemAudioMuteController::muteOutputDevices() {
    return queue_.sync([this]() -> std::expected<void, MuteError> {
        if (isActive_) {
            return {};
        }
        isActive_ = true;
        // The sound goes to the capture's own output before the real ones fall silent.
        isRouted_ = routing_ && routing_->routeDesktopAudioToCapture();
        std::set<std::string> seen;
        for (const std::string& control : controls_->outputMuteControls()) {
            if (seen.insert(control).second) {
                muteControl(control);
            }
        }
        if (savedMuteStates_.empty()) {
            isActive_ = false;
            restoreRouting();
            return std::unexpected(MuteError::noSettableMuteControl);
        }
        return {};
    });
}

void SystemAudioMuteController::restoreSavedMuteStates() {
    queue_.sync([this] { restoreOnQueue(); });
}

bool SystemAudioMuteController::isActive() {
    return queue_.sync([this] { return isActive_; });
}

void SystemAudioMuteController::muteControl(const std::string& control) {
    if (savedMuteStates_.contains(control)) {
        return;
    }
    std::optional<bool> muted = controls_->readMute(control);
    if (!muted) {
        return;
    }
    // The handler runs on the sound server's thread: it only queues the check. The queue outlives every
    // observation (restore stops them all before the controller goes).
    bool observing = controls_->observe(control, [this, control](bool muted) {
        queue_.async([this, control, muted] { controlChanged(control, muted); });
    });
    if (!observing) {
        logger_.error("Could not observe output mute state: device=", control);
        return;
    }
    savedMuteStates_[control] = SavedMuteState{*muted, *muted, false};
    if (controls_->writeMute(control, true)) {
        savedMuteStates_[control].lastObservedMuted = true;
    } else {
        logger_.error("Could not set output mute property: device=", control);
        controls_->stopObserving(control);
        savedMuteStates_.erase(control);
    }
}

void SystemAudioMuteController::controlChanged(const std::string& control, bool muted) {
    if (!isActive_) {
        return;
    }
    auto saved = savedMuteStates_.find(control);
    if (saved == savedMuteStates_.end()) {
        return;
    }
    // The reported state, not a fresh read: a quick unmute and mute again must still count as the user's.
    if (muted != saved->second.lastObservedMuted) {
        saved->second.lastObservedMuted = muted;
        saved->second.userChangedMute = true;
    }
}

void SystemAudioMuteController::restoreRouting() {
    if (isRouted_) {
        isRouted_ = false;
        routing_->restoreDesktopAudioRouting();
    }
}

void SystemAudioMuteController::restoreOnQueue() {
    if (!isActive_ && savedMuteStates_.empty()) {
        return;
    }
    isActive_ = false;
    // The sound goes back to the real outputs while they are still muted; unmuting them then brings it back.
    restoreRouting();
    std::map<std::string, SavedMuteState> saved = std::move(savedMuteStates_);
    savedMuteStates_.clear();
    for (const auto& [control, state] : saved) {
        controls_->stopObserving(control);
        if (state.originalMuted || state.userChangedMute) {
            continue;
        }
        if (controls_->readMute(control) == true && !controls_->writeMute(control, false)) {
            logger_.error("Could not restore output mute state: device=", control);
        }
    }
}

}  // namespace quillbridge
