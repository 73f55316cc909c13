#include "input/RemoteSystemActionController.hpp"

#include "input/MediaKeyType.hpp"

namespace quillbridge {

SystemActionPlan RemoteSystemActionController::plan(RemoteSystemAction action) {
    using Kind = SystemActionPlan::Kind;
    using enum RemoteSystemAction;
    auto make = [](Kind kind, std::vector<RemoteKeyboardKey> keys = {},
                   MouseButton button = MouseButton::primary, std::int32_t keyType = 0) {
        return SystemActionPlan{kind, std::move(keys), button, keyType};
    };
    auto chord = [&](std::vector<RemoteKeyboardKey> keys) { return make(Kind::chord, std::move(keys)); };
    auto click = [&](MouseButton button) { return make(Kind::click, {}, button); };
    auto media = [&](std::int32_t keyType) {
        return make(Kind::mediaKey, {}, MouseButton::primary, keyType);
    };
    switch (action) {
        // History navigation is Alt+Left and Alt+Right on the desktop (the option key is Alt).
        case back:
            return chord({RemoteKeyboardKey::option, RemoteKeyboardKey::leftArrow});
        case forward:
            return chord({RemoteKeyboardKey::option, RemoteKeyboardKey::rightArrow});
        case primaryClick:
            return click(MouseButton::primary);
        case secondaryClick:
            return click(MouseButton::secondary);
        case middleClick:
            return click(MouseButton::middle);
        case mouseBack:
            return click(MouseButton::back);
        case mouseForward:
            return click(MouseButton::forward);
        case missionControl:
            return media(MediaKeyType::missionControl);
        case spotlight:
            return media(MediaKeyType::search);
        case dictation:
            return make(Kind::unsupported);
        case mediaPrevious:
            return media(MediaKeyType::previous);
        case mediaPlayPause:
            return media(MediaKeyType::play);
        case mediaNext:
            return media(MediaKeyType::next);
        case mute:
            return make(Kind::mute, {}, MouseButton::primary, MediaKeyType::mute);
        case volumeDown:
            return make(Kind::volumeDown, {}, MouseButton::primary, MediaKeyType::soundDown);
        case volumeUp:
            return make(Kind::volumeUp, {}, MouseButton::primary, MediaKeyType::soundUp);
        case brightnessDown:
            return media(MediaKeyType::brightnessDown);
        case brightnessUp:
            return media(MediaKeyType::brightnessUp);
        case apps:
            return media(MediaKeyType::launchPanel);
        case lockScreen:
            return make(Kind::lockScreen);
        case copyFromMac:
        case pasteToMac:
            return make(Kind::nothing);
    }
    return make(Kind::nothing);
}

void RemoteSystemActionController::tapMediaKey(RemoteKeyboardController& keyboard, std::int32_t keyType) {
    keyboard.postMediaKey(keyType, true);
    keyboard.postMediaKey(keyType, false);
}

void RemoteSystemActionController::perform(RemoteSystemAction action, RemoteKeyboardController& keyboard,
                                           RemoteMouseController& mouse) {
    using Kind = SystemActionPlan::Kind;
    SystemActionPlan actionPlan = plan(action);
    switch (actionPlan.kind) {
        case Kind::nothing:
            return;
        case Kind::chord:
            keyboard.pressChord(actionPlan.chord);
            return;
        case Kind::click:
            mouse.handleButton(actionPlan.button, MouseButtonPhase::pressed);
            mouse.handleButton(actionPlan.button, MouseButtonPhase::released);
            return;
        case Kind::unsupported:
            logger_.notice("Dictation is not available on this desktop; the action is ignored");
            return;
        case Kind::mediaKey:
        case Kind::lockScreen:
        case Kind::volumeUp:
        case Kind::volumeDown:
        case Kind::mute:
            actionQueue_.async([this, actionPlan = std::move(actionPlan), &keyboard] {
                performQueued(actionPlan, keyboard);
            });
            return;
    }
}

void RemoteSystemActionController::performQueued(const SystemActionPlan& actionPlan,
                                                 RemoteKeyboardController& keyboard) {
    using Kind = SystemActionPlan::Kind;
    if (isClosing_) {
        return;
    }
    switch (actionPlan.kind) {
        case Kind::mediaKey:
            tapMediaKey(keyboard, actionPlan.mediaKeyType);
            return;
        case Kind::lockScreen:
            // Never a key chord: the desktop has no universal lock chord, and a stray chord could quit the
            // focused application.
            if (!services_.lockScreen())
                logger_.error("Failed to lock the screen");
            return;
        case Kind::volumeUp:
            if (!services_.raiseVolume())
                tapMediaKey(keyboard, actionPlan.mediaKeyType);
            return;
        case Kind::volumeDown:
            if (!services_.lowerVolume())
                tapMediaKey(keyboard, actionPlan.mediaKeyType);
            return;
        case Kind::mute:
            if (!services_.toggleMute())
                tapMediaKey(keyboard, actionPlan.mediaKeyType);
            return;
        case Kind::nothing:
        case Kind::chord:
        case Kind::click:
        case Kind::unsupported:
            return;
    }
}

}  // namespace quillbridge
