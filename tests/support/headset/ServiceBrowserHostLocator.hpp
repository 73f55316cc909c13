#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <asio/awaitable.hpp>

#include "session/ServiceBrowser.hpp"
#include "support/headset/HostLocator.hpp"

namespace quillbridge {

// Finds the host the way the headset does: browses for the host's service type, resolves the first
// instance seen (or the one with the given name) and answers with its address and port. Each call runs a
// browse of its own with a fresh browser and stops it before returning. Throws std::runtime_error when
// nothing was found and resolved in time, or when the browse failed.
class ServiceBrowserHostLocator {
public:
    struct Options {
        std::string serviceType = "_quillbridge._udp";
        // Only an instance of this name, when set.
        std::optional<std::string> instanceName;
        std::chrono::milliseconds timeout{10000};
    };

    ServiceBrowserHostLocator(std::function<std::unique_ptr<ServiceBrowser>()> makeBrowser, Options options);
    explicit ServiceBrowserHostLocator(std::function<std::unique_ptr<ServiceBrowser>()> makeBrowser)
        : ServiceBrowserHostLocator(std::move(makeBrowser), Options{}) {}

    asio::awaitable<HostEndpoint> locate() const;

    // The locator for HeadsetSimulator.
    HostLocator locator() const;

private:
    std::function<std::unique_ptr<ServiceBrowser>()> makeBrowser_;
    Options options_;
};

}  // namespace quillbridge
