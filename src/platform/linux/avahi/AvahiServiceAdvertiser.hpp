#pragma once

#include <memory>

#include "session/ServiceAdvertiser.hpp"

namespace quillbridge {

// Publishes a service through the Avahi daemon (over the system bus), with an event loop thread of its own.
// A name that is taken, on this host or by another, is replaced by Avahi's alternative ("Name #2") and
// published again; when the daemon restarts, the service is published again once it is back.
class AvahiServiceAdvertiser final : public ServiceAdvertiser {
public:
    // Throws std::system_error when the event loop cannot be started.
    AvahiServiceAdvertiser();
    ~AvahiServiceAdvertiser() override;

    void start(ServiceAdvertisement advertisement, StateHandler onStateUpdate) override;
    void stop() override;

private:
    class Implementation;
    std::unique_ptr<Implementation> implementation_;
};

}  // namespace quillbridge
