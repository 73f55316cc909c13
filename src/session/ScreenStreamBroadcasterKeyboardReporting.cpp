#include <asio/post.hpp>
#include <asio/this_coro.hpp>

#include "session/ScreenStreamBroadcaster.hpp"

// Keyboard layout and lock-state reporting to the headset, so that its virtual keyboard shows the host's
// key caps and lock lights. A layout is reported once two reads 50 ms apart agree; lock states are sent
// when they change, from the keyboard's own reports and from a half-second poll.

namespace quillbridge {

namespace {

constexpr int maximumKeyboardLayoutReads = 10;
constexpr auto keyboardLayoutSettleInterval = std::chrono::milliseconds(50);
constexpr auto keyboardLockStatePollInterval = std::chrono::milliseconds(500);

asio::awaitable<bool> isCurrentCoroutineCancelled() {
    co_return isCancelled(co_await asio::this_coro::cancellation_state);
}

}  // namespace

asio::awaitable<void> ScreenStreamBroadcaster::startObservingKeyboardLayoutChanges() {
    auto self = shared_from_this();
    auto work = [this] { startObservingKeyboardLayoutChangesOnActor(); };
    co_await actor_.call(std::move(work));
}

void ScreenStreamBroadcaster::startObservingKeyboardLayoutChangesOnActor() {
    if (isObservingKeyboardLayoutChanges_ || dependencies_.keyboardLayoutChanges == nullptr) {
        return;
    }
    std::weak_ptr<ScreenStreamBroadcaster> weak = weak_from_this();
    auto executor = actor_.executor();
    // Called on the observer's thread: hop onto the session's strand.
    isObservingKeyboardLayoutChanges_ = dependencies_.keyboardLayoutChanges->start([weak, executor] {
        asio::post(executor, [weak] {
            if (auto self = weak.lock()) {
                self->scheduleKeyboardLayoutRefresh();
            }
        });
    });
    if (!isObservingKeyboardLayoutChanges_) {
        logger_.error("Could not observe keyboard layout changes");
    }
}

void ScreenStreamBroadcaster::scheduleKeyboardLayoutRefresh() {
    if (!dependencies_.keyboardReporting) {
        return;
    }
    auto self = shared_from_this();
    // Replacing the task cancels the older refresh.
    keyboardLayoutRefreshTask_ = Task::spawn(
        actor_.executor(), [self]() -> asio::awaitable<void> { co_await self->runKeyboardLayoutRefresh(); },
        "keyboard layout refresh");
}

asio::awaitable<void> ScreenStreamBroadcaster::runKeyboardLayoutRefresh() {
    auto& keyboard = *dependencies_.keyboardReporting;
    keyboard.refreshInputSource();
    std::optional<MacKeyboardInputSourceIdentity> previous;
    int reads = 0;
    for (;;) {
        if (co_await isCurrentCoroutineCancelled() || !isAuthorized_ || !controlStream_) {
            co_return;
        }
        auto identity = keyboard.currentInputSource();
        ++reads;
        if (identity && identity == previous) {
            co_await sendKeyboardLayout(*identity);
            co_return;
        }
        previous = std::move(identity);
        if (reads >= maximumKeyboardLayoutReads) {
            co_return;
        }
        co_await dependencies_.clock->sleepFor(keyboardLayoutSettleInterval);
    }
}

asio::awaitable<void> ScreenStreamBroadcaster::sendKeyboardLayout(
    const MacKeyboardInputSourceIdentity& identity) {
    if (!isAuthorized_ || !controlStream_) {
        co_return;
    }
    auto& keyboard = *dependencies_.keyboardReporting;
    auto cached = keyboardLayoutSnapshotCache_.find(identity.inputSourceID);
    if (cached == keyboardLayoutSnapshotCache_.end()) {
        auto snapshot = keyboard.keyboardLayoutSnapshot(identity, keyboardTypePreference_);
        if (!snapshot) {
            logger_.error("Could not read the keyboard layout ", identity.inputSourceID);
            co_return;
        }
        cached =
            keyboardLayoutSnapshotCache_.insert_or_assign(identity.inputSourceID, std::move(*snapshot)).first;
    }
    KeyboardLayoutSnapshot message = cached->second;
    message.specialKeyStyle = keyboard.currentSpecialKeyStyle();
    try {
        co_await sendControlMessageOnActor(
            StreamControlMessage::make<StreamControlMessage::Case::keyboardLayout>(std::move(message)));
    } catch (const std::exception&) {
        // Not retried: the next layout change sends it again.
    }
}

void ScreenStreamBroadcaster::startKeyboardLockStateReporting() {
    if (!dependencies_.keyboardReporting) {
        return;
    }
    std::weak_ptr<ScreenStreamBroadcaster> weak = weak_from_this();
    auto executor = actor_.executor();
    dependencies_.keyboardReporting->setLockStateDidChange([weak, executor](KeyboardLockStateMessage state) {
        // Called on the keyboard's queue: hop onto the session's strand.
        asio::post(executor, [weak, state] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            std::erase_if(self->keyboardLockStateSendTasks_,
                          [](const Task& task) { return task.isFinished(); });
            self->keyboardLockStateSendTasks_.push_back(Task::spawn(
                self->actor_.executor(),
                [self, state]() -> asio::awaitable<void> {
                    co_await self->sendKeyboardLockStateIfChanged(state);
                },
                "keyboard lock state"));
        });
    });
    if (keyboardLockStateMonitorTask_.isFinished()) {
        auto self = shared_from_this();
        keyboardLockStateMonitorTask_ = Task::spawn(
            actor_.executor(),
            [self]() -> asio::awaitable<void> { co_await self->runKeyboardLockStatePoll(); },
            "keyboard lock state poll");
    }
}

asio::awaitable<void> ScreenStreamBroadcaster::runKeyboardLockStatePoll() {
    auto& keyboard = *dependencies_.keyboardReporting;
    co_await sendKeyboardLockStateIfChanged(keyboard.capsLockStatus());
    while (!co_await isCurrentCoroutineCancelled()) {
        co_await dependencies_.clock->sleepFor(keyboardLockStatePollInterval);
        keyboard.refreshCapsLockState();
        co_await sendKeyboardLockStateIfChanged(keyboard.capsLockStatus());
    }
}

asio::awaitable<void> ScreenStreamBroadcaster::sendKeyboardLockStateIfChanged(
    KeyboardLockStateMessage state) {
    if (!isAuthorized_ || !controlStream_) {
        co_return;
    }
    const auto same = [](const KeyboardLockStateMessage& a, const KeyboardLockStateMessage& b) {
        return a.capsLock == b.capsLock && a.languageSwitchIsLatin == b.languageSwitchIsLatin;
    };
    if (lastSentKeyboardLockState_ && same(*lastSentKeyboardLockState_, state)) {
        co_return;
    }
    try {
        co_await sendControlMessageOnActor(
            StreamControlMessage::make<StreamControlMessage::Case::keyboardLockState>(state));
    } catch (const std::exception&) {
        // Not recorded, so the next change or poll tries again.
        co_return;
    }
    lastSentKeyboardLockState_ = state;
}

}  // namespace quillbridge
