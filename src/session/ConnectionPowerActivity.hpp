#pragma once

#include <memory>
#include <string_view>

namespace quillbridge {

// Keeps the host from idling (display sleep, screen saver, idle suspend) while a headset is connected.
// One held activity is one token: releasing the token ends the activity.
class ConnectionPowerActivity {
public:
    class Token {
    public:
        virtual ~Token() = default;
    };

    virtual ~ConnectionPowerActivity() = default;

    // Begins an activity with the reason shown to the user by the system. Nothing when the system refused
    // it or offers no way to hold one.
    virtual std::unique_ptr<Token> begin(std::string_view reason) = 0;
};

}  // namespace quillbridge
