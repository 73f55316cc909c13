#pragma once

#include <string>
#include <utility>

namespace quillbridge {

// The session state the user interface shows.
struct ScreenStreamBroadcasterState {
    enum class Kind {
        connected,
        localNetworkPermissionCheckFailed,
        failed,
        idle,
        listening,
        localNetworkPermissionChecking,
        localNetworkPermissionGranted,
        localNetworkPermissionDenied,
    };
    Kind kind = Kind::idle;
    // The headset's name (connected) or the failure text.
    std::string text;

    static ScreenStreamBroadcasterState connected(std::string name) {
        return {Kind::connected, std::move(name)};
    }
    static ScreenStreamBroadcasterState localNetworkPermissionCheckFailed(std::string text) {
        return {Kind::localNetworkPermissionCheckFailed, std::move(text)};
    }
    static ScreenStreamBroadcasterState failed(std::string text) { return {Kind::failed, std::move(text)}; }
    static ScreenStreamBroadcasterState idle() { return {Kind::idle, {}}; }
    static ScreenStreamBroadcasterState listening() { return {Kind::listening, {}}; }
    static ScreenStreamBroadcasterState localNetworkPermissionChecking() {
        return {Kind::localNetworkPermissionChecking, {}};
    }
    static ScreenStreamBroadcasterState localNetworkPermissionGranted() {
        return {Kind::localNetworkPermissionGranted, {}};
    }
    static ScreenStreamBroadcasterState localNetworkPermissionDenied() {
        return {Kind::localNetworkPermissionDenied, {}};
    }

    // The status line for the user.
    std::string statusText() const;

    bool operator==(const ScreenStreamBroadcasterState&) const = default;
};

}  // namespace quillbridge
