#pragma once

#include <functional>
#include <memory>

#include "app/HostApplication.hpp"
#include "app/MacHostApplicationDelegate.hpp"

namespace quillbridge {

// The running Qt application as the delegate sees it. A quit request is put to the delegate: terminate-now
// ends the event loop (or, when a quit is already waiting for the recorder, the process at once);
// terminate-later waits for the reply. Alerts are modal message boxes; folders open through xdg-open.
class QtHostApplication final : public HostApplication {
public:
    // What ends the process at once (a second quit during the shutdown): _Exit by default.
    using ImmediateExit = std::function<void()>;

    explicit QtHostApplication(ImmediateExit immediateExit = {});

    void setDelegate(std::weak_ptr<MacHostApplicationDelegate> delegate) { delegate_ = std::move(delegate); }

    void terminate() override;
    void replyToApplicationShouldTerminate(bool shouldTerminate) override;
    AlertResponse runModalAlert(const ApplicationAlert& alert) override;
    void openFolder(const std::filesystem::path& folder) override;

    // Whether a quit was answered with terminate-later and waits for its reply.
    bool isAwaitingTerminationReply() const { return isAwaitingTerminationReply_; }

private:
    std::weak_ptr<MacHostApplicationDelegate> delegate_;
    ImmediateExit immediateExit_;
    bool isAwaitingTerminationReply_ = false;
};

}  // namespace quillbridge
