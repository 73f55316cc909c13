#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "input/SystemServicesPort.hpp"

namespace quillbridge {

// Records the service calls; `available` false makes every call fail (no session manager, no sound server).
// hold() makes every call wait until release(), as a service that answers late (at most 10 s: code that
// wrongly waits for the call on the test's own thread then fails instead of hanging). The calls come from the
// system actions' queue, so read what was recorded through the accessors.
class FakeSystemServices final : public SystemServicesPort {
public:
    bool available = true;

    bool lockScreen() override { return record("lockScreen"); }
    bool raiseVolume() override { return record("raiseVolume"); }
    bool lowerVolume() override { return record("lowerVolume"); }
    bool toggleMute() override { return record("toggleMute"); }

    std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }

    void hold() {
        std::lock_guard lock(mutex_);
        isHeld_ = true;
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            isHeld_ = false;
        }
        changed_.notify_all();
    }
    // Waits (bounded) until a call is held; false when none came.
    bool waitUntilACallIsHeld() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return heldCount_ > 0; });
    }
    // Whether a call waits for release() now.
    bool isHoldingACall() const {
        std::lock_guard lock(mutex_);
        return heldCount_ > 0;
    }

private:
    bool record(const char* name) {
        std::unique_lock lock(mutex_);
        calls_.emplace_back(name);
        ++heldCount_;
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(10), [this] { return !isHeld_; });
        --heldCount_;
        return available;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> calls_;
    bool isHeld_ = false;
    int heldCount_ = 0;
};

}  // namespace quillbridge
