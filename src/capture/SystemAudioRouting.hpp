#pragma once

namespace quillbridge {

// The sound server's routing of the desktop's sound while the host mutes its outputs. Where a server applies
// an output's mute in software, the output's monitor (what system-audio capture records) goes silent with it;
// so while muted, the desktop's playback is sent into a private output that is never muted, whose monitor the
// capture records, and the real outputs are left with nothing to play. Called from one serial queue at a
// time; calls may block briefly on the sound server.
class SystemAudioRouting {
public:
    virtual ~SystemAudioRouting() = default;

    // Undoes a routing that an earlier run of the host left behind (it ended without restoring): the private
    // output goes and the playback in it returns to the default output.
    virtual void recoverAbandonedRouting() = 0;
    // Creates the private output, makes it the default, moves every playback there and keeps moving new ones
    // there until restored. Does nothing while already routing. False, with nothing left in force, when the
    // sound server cannot do it.
    virtual bool routeDesktopAudioToCapture() = 0;
    // Puts every playback moved by the host back on the output it came from (the default output when that one
    // is gone) and the user's default output back, and removes the private output. Harmless when nothing is
    // routed.
    virtual void restoreDesktopAudioRouting() = 0;
};

}  // namespace quillbridge
