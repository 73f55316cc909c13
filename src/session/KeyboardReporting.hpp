#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>

#include "core/Logger.hpp"
#include "core/Task.hpp"
#include "session/ScreenStreamBroadcasterDependencies.hpp"
#include "session/SessionContext.hpp"
#include "wire/KeyboardLayoutSnapshot.hpp"
#include "wire/KeyboardLockStateMessage.hpp"
#include "wire/KeyboardTypePreference.hpp"

namespace quillbridge {

// Keyboard layout and lock-state reporting to the headset, so that its virtual keyboard shows the host's key
// caps and lock lights. A layout is reported once two reads 50 ms apart agree; lock states are sent when they
// change, from the keyboard's own reports and from a half-second poll. It owns the layout observer's
// registration, the refresh and poll tasks, the snapshot cache and the last sent lock state. Runs on the
// session's strand; every member is called there.
class KeyboardReporting {
public:
    KeyboardReporting(SessionContext& session, const ScreenStreamBroadcasterDependencies& dependencies);
    // Stops the layout observer: its notices hold the session weakly and end with it.
    ~KeyboardReporting();
    KeyboardReporting(const KeyboardReporting&) = delete;
    KeyboardReporting& operator=(const KeyboardReporting&) = delete;

    // Starts observing the host's keyboard layout, once: each change restarts the layout refresh.
    void startObservingLayoutChanges();
    // Reads the layout again until it settles and reports it; replaces a refresh under way.
    void scheduleLayoutRefresh();
    // Starts the lock-state reports of the authorised session.
    void startLockStateReporting();
    // The headset's keyboard type: layouts are built for it from now on.
    void setTypePreference(KeyboardTypePreference preference);
    // The session ended: its tasks stop and the next session is told its lock state afresh.
    void endSession();

private:
    friend struct ScreenStreamBroadcasterTestAccess;

    asio::awaitable<void> runLayoutRefresh();
    asio::awaitable<void> sendLayout(const MacKeyboardInputSourceIdentity& identity);
    asio::awaitable<void> runLockStatePoll();
    asio::awaitable<void> sendLockStateIfChanged(KeyboardLockStateMessage state);
    void handleLockStateReport(KeyboardLockStateMessage state);

    SessionContext& session_;
    const ScreenStreamBroadcasterDependencies& dependencies_;
    Logger logger_{"ScreenStreamBroadcaster"};

    // Whether the layout observer was started (it stays so for the session's lifetime).
    bool isObservingLayoutChanges_ = false;
    Task layoutRefreshTask_;
    Task lockStateMonitorTask_;
    std::optional<KeyboardLockStateMessage> lastSentLockState_;
    std::map<std::string, KeyboardLayoutSnapshot> layoutSnapshotCache_;
    KeyboardTypePreference typePreference_ = KeyboardTypePreference::automatic;
    // Lock states reported by the keyboard, on their way to the headset.
    std::vector<Task> lockStateSendTasks_;
};

}  // namespace quillbridge
