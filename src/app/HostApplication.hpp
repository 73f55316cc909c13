#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quillbridge {

// The replies to a request to quit. Cancel is never given.
enum class TerminateReply { terminateCancel = 0, terminateNow = 1, terminateLater = 2 };

// A modal alert of the warning style and the button the user chose (the first or the second).
struct ApplicationAlert {
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons;
};
enum class AlertResponse { firstButton, secondButton };

// What the application delegate asks of the running application and the desktop.
class HostApplication {
public:
    virtual ~HostApplication() = default;

    // Asks the application to quit; the request goes through the delegate's answer to it.
    virtual void terminate() = 0;
    // Ends a quit that was answered with terminate-later: true lets it proceed.
    virtual void replyToApplicationShouldTerminate(bool shouldTerminate) = 0;
    // Shows the alert until the user answers; the event loop keeps running meanwhile.
    virtual AlertResponse runModalAlert(const ApplicationAlert& alert) = 0;
    // Shows the folder in the desktop's file manager.
    virtual void openFolder(const std::filesystem::path& folder) = 0;
};

}  // namespace quillbridge
