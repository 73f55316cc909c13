#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/SystemAudioRouting.hpp"

namespace quillbridge {

// A routing in memory. The test keeps a handle on the shared state (the controller owns the fake) to refuse
// the routing, to read what was called, in order, and to look at the outputs at the moment of each call.
class FakeSystemAudioRouting final : public SystemAudioRouting {
public:
    struct State {
        std::mutex mutex;
        bool refusesRouting = false;
        bool isRouted = false;
        std::vector<std::string> calls;
        // Called after each call with its name ("recover", "route", "restore"), outside the lock.
        std::function<void(const std::string&)> observer;

        void note(const std::string& call, bool routes) {
            std::function<void(const std::string&)> notify;
            {
                std::lock_guard lock(mutex);
                calls.push_back(call);
                if (call == "route") {
                    isRouted = routes && !refusesRouting;
                } else if (call == "restore") {
                    isRouted = false;
                }
                notify = observer;
            }
            if (notify) {
                notify(call);
            }
        }
        std::vector<std::string> journal() {
            std::lock_guard lock(mutex);
            return calls;
        }
        bool routed() {
            std::lock_guard lock(mutex);
            return isRouted;
        }
    };

    explicit FakeSystemAudioRouting(std::shared_ptr<State> state) : state_(std::move(state)) {}

    void recoverAbandonedRouting() override { state_->note("recover", false); }
    bool routeDesktopAudioToCapture() override {
        state_->note("route", true);
        return state_->routed();
    }
    void restoreDesktopAudioRouting() override { state_->note("restore", false); }

private:
    std::shared_ptr<State> state_;
};

}  // namespace quillbridge
