#pragma once

#include <optional>
#include <string>
#include <utility>

#include "session/ServiceDiscoveryError.hpp"

namespace quillbridge {

// The state of an advertiser or a browser, reported whenever it changes.
struct ServiceDiscoveryState {
    enum class Status {
        // Advertising: the service is published. Browsing: the browse runs and reports results.
        ready,
        // Not working at the moment for a reason that may pass (the daemon is not running, say); the
        // advertiser or browser keeps trying by itself.
        waiting,
        // Stopped for good; only a new start may help.
        failed,
    };

    Status status = Status::ready;
    // Why, when waiting or failed.
    std::optional<ServiceDiscoveryError> error;
    // When an advertiser is ready: the name under which the service is published, which differs from the
    // name asked for after a name collision. Empty otherwise.
    std::string serviceName;

    static ServiceDiscoveryState ready(std::string serviceName = {}) {
        return {Status::ready, std::nullopt, std::move(serviceName)};
    }
    static ServiceDiscoveryState waiting(ServiceDiscoveryError error) {
        return {Status::waiting, std::move(error), {}};
    }
    static ServiceDiscoveryState failed(ServiceDiscoveryError error) {
        return {Status::failed, std::move(error), {}};
    }

    bool operator==(const ServiceDiscoveryState&) const = default;
};

}  // namespace quillbridge
