#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "capture/AudioOutputMuteControls.hpp"
#include "capture/SystemAudioRouting.hpp"
#include "core/Logger.hpp"
#include "core/SerialQueue.hpp"

namespace quillbridge {

enum class MuteError {
    noSettableMuteControl,
};

// "The active audio output device does not provide a settable mute control."
std::string_view muteErrorDescription(MuteError error);

// Mutes the host's audio outputs while a session streams the host's sound to the headset, and restores them
// afterwards. It remembers each control's state from before muting and watches for the user changing it
// meanwhile; restoring unmutes only the controls it muted itself and nobody touched since. With a routing,
// the desktop's sound goes into the capture's private output while muting is in force (so muting silences the
// speakers and not the capture), and back where it was when restored. All state lives on its own serial
// queue; the public calls run there synchronously (directly when already on it).
class SystemAudioMuteController {
public:
    // Without a routing the outputs are only muted. With one, a routing left behind by an earlier run is
    // undone first, on the controller's queue.
    explicit SystemAudioMuteController(std::unique_ptr<AudioOutputMuteControls> controls,
                                       std::unique_ptr<SystemAudioRouting> routing = nullptr);
    // Restores as restoreSavedMuteStates() does.
    ~SystemAudioMuteController();
    SystemAudioMuteController(const SystemAudioMuteController&) = delete;
    SystemAudioMuteController& operator=(const SystemAudioMuteController&) = delete;

    // Routes the desktop's sound to the capture, then mutes every control of the current outputs and
    // remembers their earlier states. Does nothing while already muting. noSettableMuteControl when no
    // control could be muted (then nothing is in force, the routing neither). A routing the sound server
    // refuses is logged by the routing, and the outputs are muted all the same.
    std::expected<void, MuteError> muteOutputDevices();
    // Puts the desktop's sound back where it was, then puts back what muteOutputDevices() changed; a control
    // that was muted before, or that someone changed meanwhile, is left as it is. Harmless when nothing is
    // muted.
    void restoreSavedMuteStates();

    // Whether muting is in force.
    bool isActive();

private:
    struct SavedMuteState {
        bool originalMuted = false;
        bool lastObservedMuted = false;
        bool userChangedMute = false;
    };

    void muteControl(const std::string& control);
    void controlChanged(const std::string& control, bool muted);
    void restoreRouting();
    void restoreOnQueue();

    std::unique_ptr<AudioOutputMuteControls> controls_;
    std::unique_ptr<SystemAudioRouting> routing_;
    Logger logger_{"SystemAudioMuteController"};
    bool isActive_ = false;
    bool isRouted_ = false;
    std::map<std::string, SavedMuteState> savedMuteStates_;
    // Last member: destroyed first, so queued change notifications still find the state above.
    SerialQueue queue_{"com.mossharbor.quillbridge.SystemAudioMuteController"};
};

}  // namespace quillbridge
