#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "session/ServiceDiscoveryState.hpp"

namespace quillbridge {

// One service instance found by a browse, on one network interface.
struct ServiceBrowseResult {
    std::string name;
    std::string type;
    std::string domain;
    // The network interface it was seen on.
    int interfaceIndex = 0;

    auto operator<=>(const ServiceBrowseResult&) const = default;
};

// A browse result resolved to where the service listens.
struct ResolvedService {
    std::string name;
    std::string type;
    std::string domain;
    std::string hostName;
    // The host's address as text ("192.0.2.1").
    std::string address;
    std::uint16_t port = 0;
    // TXT record entries, key to value (an entry without "=" has an empty value; of a repeated key one
    // entry is kept).
    std::map<std::string, std::string> txtRecord;

    bool operator==(const ResolvedService&) const = default;
};

// Browses the local network for the services of one type in the default domain.
//
// Handlers run on the browser's own thread: they must return promptly and must not call back into the
// browser (hop onto your own executor instead). No handler runs once stop() has returned. A browser is
// destroyed only from outside its handlers.
class ServiceBrowser {
public:
    using StateHandler = std::function<void(const ServiceDiscoveryState&)>;
    // The whole result set after each change (sorted, no duplicates; empty when everything went away).
    using ResultsHandler = std::function<void(const std::vector<ServiceBrowseResult>&)>;
    using ResolveHandler = std::function<void(std::expected<ResolvedService, ServiceDiscoveryError>)>;

    virtual ~ServiceBrowser() = default;

    // Starts browsing for `type` (such as "_quillbridge._udp"), replacing any browse before. Every change
    // of state is reported once: `ready` when the browse runs, `waiting` while it cannot run for now,
    // `failed` when it cannot run at all.
    virtual void start(std::string type, StateHandler onStateUpdate, ResultsHandler onResultsChanged) = 0;

    // Stops browsing and drops pending resolutions without calling their handlers. Does nothing when not
    // started.
    virtual void stop() = 0;

    // Resolves one result of the running browse; the handler runs once, with the service or the error
    // (a resolution that finds nothing ends with an error after a few seconds; one asked of a browser
    // that does not run, or for a result it does not hold, fails at once).
    virtual void resolve(const ServiceBrowseResult& result, ResolveHandler onResolved) = 0;
};

}  // namespace quillbridge
