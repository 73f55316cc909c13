#pragma once

#include <functional>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/linux/avahi/AvahiClientConnection.hpp"
#include "session/ServiceDiscoveryState.hpp"

namespace quillbridge {

// The state handler of an advertiser or a browser: it hears each state that differs from the last one it
// heard, through the connection's guard for user handlers. Used where the owner's Avahi objects are (on the
// loop's thread or with the lock held).
class AvahiStateReporter {
public:
    using Handler = std::function<void(const ServiceDiscoveryState&)>;

    // `handlerName` names the handler in the log when it throws.
    AvahiStateReporter(const AvahiClientConnection& connection, std::string_view handlerName)
        : connection_(connection), handlerName_(handlerName) {}

    // A new handler, which has heard nothing yet.
    void start(Handler handler) {
        handler_ = std::move(handler);
        lastState_.reset();
    }

    // The handler hears nothing more.
    void stop() { handler_ = nullptr; }

    void report(ServiceDiscoveryState state) {
        if (lastState_ == state)
            return;
        lastState_ = state;
        if (!handler_)
            return;
        connection_.callHandler(handlerName_, [&] { handler_(state); });
    }

private:
    const AvahiClientConnection& connection_;
    std::string_view handlerName_;
    Handler handler_;
    std::optional<ServiceDiscoveryState> lastState_;
};

}  // namespace quillbridge
