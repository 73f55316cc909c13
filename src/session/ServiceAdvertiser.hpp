#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "session/ServiceDiscoveryState.hpp"

namespace quillbridge {

// What a host publishes about a service of its own on the local network.
struct ServiceAdvertisement {
    // The instance name the user sees, such as the host's display name.
    std::string name;
    // The service type, such as "_quillbridge._udp".
    std::string type;
    // TXT record entries, key to value.
    std::map<std::string, std::string> txtRecord;
    std::uint16_t port = 0;

    bool operator==(const ServiceAdvertisement&) const = default;
};

// Publishes one service on the local network in the default domain, under another name when the one asked
// for is taken (the ready state carries the name in use).
//
// Handlers run on the advertiser's own thread: they must return promptly and must not call back into the
// advertiser (hop onto your own executor instead). No handler runs once stop() has returned. An advertiser
// is destroyed only from outside its handlers.
class ServiceAdvertiser {
public:
    using StateHandler = std::function<void(const ServiceDiscoveryState&)>;

    virtual ~ServiceAdvertiser() = default;

    // Starts publishing, replacing whatever was published before. Every change of state is reported once:
    // `ready` when the service is published (again, after a rename or when the daemon is back), `waiting`
    // while it cannot be published for now, `failed` when it cannot be published at all.
    virtual void start(ServiceAdvertisement advertisement, StateHandler onStateUpdate) = 0;

    // Withdraws the service. Does nothing when not started.
    virtual void stop() = 0;
};

}  // namespace quillbridge
