#pragma once

#include <memory>
#include <string>

#include "session/ServiceBrowser.hpp"

namespace quillbridge {

// Browses through the Avahi daemon (over the system bus), with an event loop thread of its own. When the
// daemon goes away the results are dropped and the browse waits; it runs again once the daemon is back.
class AvahiServiceBrowser final : public ServiceBrowser {
public:
    // Throws std::system_error when the event loop cannot be started.
    AvahiServiceBrowser();
    ~AvahiServiceBrowser() override;

    void start(std::string type, StateHandler onStateUpdate, ResultsHandler onResultsChanged) override;
    void stop() override;
    void resolve(const ServiceBrowseResult& result, ResolveHandler onResolved) override;

private:
    class Implementation;
    std::unique_ptr<Implementation> implementation_;
};

}  // namespace quillbridge
