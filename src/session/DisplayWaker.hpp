#pragma once

#include <string>
#include <string_view>

namespace quillbridge {

// Wakes the host's display as user activity would (screen saver reset, display powered on).
class DisplayWaker {
public:
    struct Outcome {
        enum class Kind {
            // The display was woken.
            woken,
            // There is no display to wake here (no graphical session): nothing was done.
            noDisplay,
            // The system refused; `code` carries its error.
            failed,
        };
        Kind kind = Kind::woken;
        int code = 0;

        bool operator==(const Outcome&) const = default;
    };

    virtual ~DisplayWaker() = default;

    // Declares user activity under the given name. Must return promptly.
    virtual Outcome wakeDisplay(std::string_view activityName) = 0;
};

}  // namespace quillbridge
