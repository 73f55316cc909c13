#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include <QLocalServer>

namespace quillbridge {

// One host per user: the running host listens on a local socket in $XDG_RUNTIME_DIR, and a second launch
// hands it a reopen request there and exits, as a second launch of a running application reopens it.
class SingleInstanceChannel {
public:
    static constexpr const char* reopenRequest = "reopen\n";
    static constexpr const char* reopenAnswer = "ok\n";

    // $XDG_RUNTIME_DIR/quillbridge-host.socket (Qt's per-user runtime folder when the variable is unset).
    static std::filesystem::path defaultSocketPath();

    // Hands a reopen to the host listening at the path; true once it has acknowledged it. Blocks for at most
    // the timeout (a second launch does this before it has any window).
    static bool handOffToRunningInstance(const std::filesystem::path& socketPath,
                                         std::chrono::milliseconds timeout);

    // Listens at the path, taking over a socket file left behind by a host that is gone; each reopen
    // request calls the handler on the GUI thread. False when another host answers there or the socket
    // cannot be made.
    bool listen(const std::filesystem::path& socketPath, std::function<void()> onReopen);

private:
    void accept();

    std::function<void()> onReopen_;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace quillbridge
