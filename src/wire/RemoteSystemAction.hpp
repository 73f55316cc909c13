#pragma once

#include <array>
#include <string_view>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// One system-level action the headset asks the host to carry out: history back and forward, mouse
// clicks, Mission Control, Spotlight, dictation, the media, volume and brightness keys, the application
// launcher, locking the screen, and the two directions of a clipboard transfer. `allEnumCases` gives the
// 22 cases in this order.
enum class RemoteSystemAction {
    back,
    forward,
    primaryClick,
    secondaryClick,
    middleClick,
    mouseBack,
    mouseForward,
    missionControl,
    spotlight,
    dictation,
    mediaPrevious,
    mediaPlayPause,
    mediaNext,
    mute,
    volumeDown,
    volumeUp,
    brightnessDown,
    brightnessUp,
    apps,
    lockScreen,
    copyFromMac,
    pasteToMac,
};

template <>
struct JsonEnumCases<RemoteSystemAction> {
    using enum RemoteSystemAction;
    static constexpr std::array cases{
        rawCase(back, "back"),
        rawCase(forward, "forward"),
        rawCase(primaryClick, "primaryClick"),
        rawCase(secondaryClick, "secondaryClick"),
        rawCase(middleClick, "middleClick"),
        rawCase(mouseBack, "mouseBack"),
        rawCase(mouseForward, "mouseForward"),
        rawCase(missionControl, "missionControl"),
        rawCase(spotlight, "spotlight"),
        rawCase(dictation, "dictation"),
        rawCase(mediaPrevious, "mediaPrevious"),
        rawCase(mediaPlayPause, "mediaPlayPause"),
        rawCase(mediaNext, "mediaNext"),
        rawCase(mute, "mute"),
        rawCase(volumeDown, "volumeDown"),
        rawCase(volumeUp, "volumeUp"),
        rawCase(brightnessDown, "brightnessDown"),
        rawCase(brightnessUp, "brightnessUp"),
        rawCase(apps, "apps"),
        rawCase(lockScreen, "lockScreen"),
        rawCase(copyFromMac, "copyFromMac"),
        rawCase(pasteToMac, "pasteToMac"),
    };
};
static_assert(isWellFormedRawValueTable<RemoteSystemAction>());

}  // namespace quillbridge
