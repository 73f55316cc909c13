#include "session/KeyboardReporting.hpp"

#include <utility>

#include <asio/post.hpp>
#include <asio/this_coro.hpp>

namespace quillbridge {

namespace {

constexpr int maximumKeyboardLayoutReads = 10;
constexpr auto keyboardLayoutSettleInterval = std::chrono::milliseconds(50);
constexpr auto keyboardLockStatePollInterval = std::chrono::milliseconds(500);

asio::awaitable<bool> isCurrentCoroutineCancelled() {
    co_return isCancelled(co_await asio::this_coro::cancellation_state);
}

}  // namespace

KeyboardReporting::KeyboardReporting(SessionContext& session,
                                     const ScreenStreamBroadcasterDependencies& dependencies)
    : session_(session), dependencies_(dependencies) {}

KeyboardReporting::~KeyboardReporting() {
    if (isObservingLayoutChanges_) {
        dependencies_.keyboardLayoutChanges->stop();
    }
}

void KeyboardReporting::startObservingLayoutChanges() {
    if (isObservingLayoutChanges_ || dependencies_.keyboardLayoutChanges == nullptr) {
        return;
    }
    // Called on the observer's thread: hop onto the session's strand.
    isObservingLayoutChanges_ = dependencies_.keyboardLayoutChanges->start(
        [this, weakOwner = session_.weakKeepAlive(), executor = session_.executor()] {
            asio::post(executor, [this, weakOwner] {
                if (auto owner = weakOwner.lock()) {
                    scheduleLayoutRefresh();
                }
            });
        });
    if (!isObservingLayoutChanges_) {
        logger_.error("Could not observe keyboard layout changes");
    }
}

void KeyboardReporting::scheduleLayoutRefresh() {
    if (!dependencies_.keyboardReporting) {
        return;
    }
    // Replacing the task cancels the older refresh.
    layoutRefreshTask_ = Task::spawn(
        session_.executor(),
        [this, owner = session_.keepAlive()]() -> asio::awaitable<void> { co_await runLayoutRefresh(); },
        "keyboard layout refresh");
}

void KeyboardReporting::setTypePreference(KeyboardTypePreference preference) {
    typePreference_ = preference;
    layoutSnapshotCache_.clear();
}

void KeyboardReporting::endSession() {
    layoutRefreshTask_.cancel();
    lockStateMonitorTask_.cancel();
    lastSentLockState_.reset();
    layoutRefreshTask_ = Task();
    lockStateMonitorTask_ = Task();
}

asio::awaitable<void> KeyboardReporting::runLayoutRefresh() {
    auto& keyboard = *dependencies_.keyboardReporting;
    keyboard.refreshInputSource();
    std::optional<MacKeyboardInputSourceIdentity> previous;
    int reads = 0;
    for (;;) {
        if (co_await isCurrentCoroutineCancelled() || !session_.isAuthorizedWithControlStream()) {
            co_return;
        }
        auto identity = keyboard.currentInputSource();
        ++reads;
        if (identity && identity == previous) {
            co_await sendLayout(*identity);
            co_return;
        }
        previous = std::move(identity);
        if (reads >= maximumKeyboardLayoutReads) {
            co_return;
        }
        co_await dependencies_.clock->sleepFor(keyboardLayoutSettleInterval);
    }
}

asio::awaitable<void> KeyboardReporting::sendLayout(const MacKeyboardInputSourceIdentity& identity) {
    if (!session_.isAuthorizedWithControlStream()) {
        co_return;
    }
    auto& keyboard = *dependencies_.keyboardReporting;
    auto cached = layoutSnapshotCache_.find(identity.inputSourceID);
    if (cached == layoutSnapshotCache_.end()) {
        auto snapshot = keyboard.keyboardLayoutSnapshot(identity, typePreference_);
        if (!snapshot) {
            logger_.error("Could not read the keyboard layout ", identity.inputSourceID);
            co_return;
        }
        cached = layoutSnapshotCache_.insert_or_assign(identity.inputSourceID, std::move(*snapshot)).first;
    }
    KeyboardLayoutSnapshot message = cached->second;
    message.specialKeyStyle = keyboard.currentSpecialKeyStyle();
    try {
        co_await session_.sendControlMessage(
            StreamControlMessage::make<StreamControlMessage::Case::keyboardLayout>(std::move(message)));
    } catch (const std::exception&) {
        // Not retried: the next layout change sends it again.
    }
}

void KeyboardReporting::startLockStateReporting() {
    if (!dependencies_.keyboardReporting) {
        return;
    }
    dependencies_.keyboardReporting->setLockStateDidChange(
        [this, weakOwner = session_.weakKeepAlive(),
         executor = session_.executor()](KeyboardLockStateMessage state) {
            // Called on the keyboard's queue: hop onto the session's strand.
            asio::post(executor, [this, weakOwner, state] {
                if (auto owner = weakOwner.lock()) {
                    handleLockStateReport(state);
                }
            });
        });
    if (lockStateMonitorTask_.isFinished()) {
        lockStateMonitorTask_ = Task::spawn(
            session_.executor(),
            [this, owner = session_.keepAlive()]() -> asio::awaitable<void> { co_await runLockStatePoll(); },
            "keyboard lock state poll");
    }
}

void KeyboardReporting::handleLockStateReport(KeyboardLockStateMessage state) {
    std::erase_if(lockStateSendTasks_, [](const Task& task) { return task.isFinished(); });
    lockStateSendTasks_.push_back(Task::spawn(
        session_.executor(),
        [this, owner = session_.keepAlive(), state]() -> asio::awaitable<void> {
            co_await sendLockStateIfChanged(state);
        },
        "keyboard lock state"));
}

asio::awaitable<void> KeyboardReporting::runLockStatePoll() {
    auto& keyboard = *dependencies_.keyboardReporting;
    co_await sendLockStateIfChanged(keyboard.capsLockStatus());
    while (!co_await isCurrentCoroutineCancelled()) {
        co_await dependencies_.clock->sleepFor(keyboardLockStatePollInterval);
        keyboard.refreshCapsLockState();
        co_await sendLockStateIfChanged(keyboard.capsLockStatus());
    }
}

asio::awaitable<void> KeyboardReporting::sendLockStateIfChanged(KeyboardLockStateMessage state) {
    if (!session_.isAuthorizedWithControlStream()) {
        co_return;
    }
    const auto same = [](const KeyboardLockStateMessage& a, const KeyboardLockStateMessage& b) {
        return a.capsLock == b.capsLock && a.languageSwitchIsLatin == b.languageSwitchIsLatin;
    };
    if (lastSentLockState_ && same(*lastSentLockState_, state)) {
        co_return;
    }
    try {
        co_await session_.sendControlMessage(
            StreamControlMessage::make<StreamControlMessage::Case::keyboardLockState>(state));
    } catch (const std::exception&) {
        // Not recorded, so the next change or poll tries again.
        co_return;
    }
    lastSentLockState_ = state;
}

}  // namespace quillbridge
