#pragma once

#include <string>

namespace quillbridge {

// An error of service discovery (advertising or browsing), as the advertiser and the browser report it.
struct ServiceDiscoveryError {
    enum class Domain {
        // A system error: `code` is an errno value (EPERM is 1).
        posix,
        // An error of the service discovery daemon: `code` is its own (negative) error code.
        dns,
    };

    Domain domain = Domain::dns;
    int code = 0;
    // The text for the user, such as "Daemon not running".
    std::string localizedDescription;

    bool operator==(const ServiceDiscoveryError&) const = default;
};

}  // namespace quillbridge
