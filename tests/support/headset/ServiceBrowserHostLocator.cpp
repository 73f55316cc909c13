#include "support/headset/ServiceBrowserHostLocator.hpp"

#include <expected>
#include <stdexcept>
#include <utility>
#include <variant>
#include <vector>

#include <asio/experimental/awaitable_operators.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "core/AsyncChannel.hpp"

namespace quillbridge {
namespace {

using namespace asio::experimental::awaitable_operators;

// What the browser's thread hands over to the locating coroutine.
using BrowseEvent = std::variant<ServiceDiscoveryState, std::vector<ServiceBrowseResult>,
                                 std::expected<ResolvedService, ServiceDiscoveryError>>;

std::string describe(const std::optional<ServiceDiscoveryError>& error) {
    return error ? error->localizedDescription : std::string("no reason given");
}

}  // namespace

ServiceBrowserHostLocator::ServiceBrowserHostLocator(
    std::function<std::unique_ptr<ServiceBrowser>()> makeBrowser, Options options)
    : makeBrowser_(std::move(makeBrowser)), options_(std::move(options)) {}

HostLocator ServiceBrowserHostLocator::locator() const {
    return [self = *this]() -> asio::awaitable<HostEndpoint> { co_return co_await self.locate(); };
}

asio::awaitable<HostEndpoint> ServiceBrowserHostLocator::locate() const {
    auto events = std::make_shared<AsyncChannel<BrowseEvent>>(AsyncChannel<BrowseEvent>::unbounded);
    std::unique_ptr<ServiceBrowser> browser = makeBrowser_();
    if (!browser) {
        throw std::runtime_error("no service browser");
    }
    browser->start(
        options_.serviceType, [events](const ServiceDiscoveryState& state) { events->trySend(state); },
        [events](const std::vector<ServiceBrowseResult>& results) { events->trySend(results); });

    auto browse = [&]() -> asio::awaitable<HostEndpoint> {
        bool isResolving = false;
        for (;;) {
            auto event = co_await events->receive();
            if (!event) {
                throw std::runtime_error("the browse ended");
            }
            if (const auto* state = std::get_if<ServiceDiscoveryState>(&*event)) {
                if (state->status == ServiceDiscoveryState::Status::failed) {
                    throw std::runtime_error("the browse failed: " + describe(state->error));
                }
            } else if (const auto* results = std::get_if<std::vector<ServiceBrowseResult>>(&*event)) {
                if (isResolving) {
                    continue;
                }
                for (const auto& result : *results) {
                    if (options_.instanceName && result.name != *options_.instanceName) {
                        continue;
                    }
                    isResolving = true;
                    browser->resolve(
                        result, [events](std::expected<ResolvedService, ServiceDiscoveryError> resolved) {
                            events->trySend(std::move(resolved));
                        });
                    break;
                }
            } else {
                const auto& resolved =
                    std::get<std::expected<ResolvedService, ServiceDiscoveryError>>(*event);
                isResolving = false;
                if (resolved) {
                    co_return HostEndpoint{resolved->address, resolved->port};
                }
                // The instance went away while it was resolved: wait for the next result set.
            }
        }
    };
    auto timeout = [&]() -> asio::awaitable<void> {
        asio::steady_timer timer(co_await asio::this_coro::executor, options_.timeout);
        co_await timer.async_wait(asio::use_awaitable);
    };

    std::variant<HostEndpoint, std::monostate> outcome;
    try {
        outcome = co_await (browse() || timeout());
    } catch (...) {
        browser->stop();
        throw;
    }
    browser->stop();
    if (auto* endpoint = std::get_if<HostEndpoint>(&outcome)) {
        co_return std::move(*endpoint);
    }
    throw std::runtime_error("no " + options_.serviceType + " service found in time");
}

}  // namespace quillbridge
