#include "platform/linux/avahi/AvahiServiceBrowser.hpp"

#include <algorithm>
#include <array>
#include <exception>
#include <expected>
#include <list>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include "platform/linux/avahi/AvahiClientConnection.hpp"
#include "platform/linux/avahi/AvahiError.hpp"
#include "platform/linux/avahi/AvahiStateReporter.hpp"

// Avahi's browser object; quillbridge::AvahiServiceBrowser is ours, wrapping one.
using AvahiBrowseObject = ::AvahiServiceBrowser;

namespace quillbridge {

namespace {

using namespace std::chrono_literals;

std::string textOrEmpty(const char* text) {
    return text ? std::string(text) : std::string();
}

std::map<std::string, std::string> txtEntries(AvahiStringList* txt) {
    std::map<std::string, std::string> entries;
    for (AvahiStringList* entry = txt; entry; entry = avahi_string_list_get_next(entry)) {
        char* key = nullptr;
        char* value = nullptr;
        std::size_t size = 0;
        if (avahi_string_list_get_pair(entry, &key, &value, &size) < 0)
            continue;
        entries.emplace(key, value ? std::string(value, size) : std::string());
        avahi_free(key);
        avahi_free(value);
    }
    return entries;
}

}  // namespace

class AvahiServiceBrowser::Implementation final : private AvahiClientConnection::Observer {
public:
    Implementation() : connection_(*this) {
        AvahiClientConnection::Lock lock(connection_);
        failureTimer_ = std::make_unique<AvahiTimer>(connection_.poll(), [this] {
            AvahiClientConnection::CallbackScope scope(connection_);
            connection_.runAvahiCallback([this] { deliverFailures(); });
        });
    }

    ~Implementation() {
        AvahiClientConnection::Lock lock(connection_);
        withdraw();
        failureTimer_.reset();
    }

    void start(std::string type, StateHandler onStateUpdate, ResultsHandler onResultsChanged) {
        AvahiClientConnection::Lock lock(connection_);
        withdraw();
        type_ = std::move(type);
        stateReporter_.start(std::move(onStateUpdate));
        onResultsChanged_ = std::move(onResultsChanged);
        isStarted_ = true;
        hasFailed_ = false;
        connection_.open();
    }

    void stop() {
        AvahiClientConnection::Lock lock(connection_);
        withdraw();
    }

    void resolve(const ServiceBrowseResult& result, ResolveHandler onResolved) {
        AvahiClientConnection::Lock lock(connection_);
        AvahiClient* client = connection_.runningClient();
        if (!isStarted_ || hasFailed_ || !client || !browser_) {
            failLater(std::move(onResolved), AVAHI_ERR_BAD_STATE);
            return;
        }
        auto found = results_.find(result);
        if (found == results_.end()) {
            failLater(std::move(onResolved), AVAHI_ERR_NOT_FOUND);
            return;
        }
        // Resolve over the protocol the service was seen on (IPv4 first): a resolver left to choose asks
        // over IPv6, which the network may not carry.
        AvahiProtocol protocol = *found->second.begin();
        auto resolution = std::make_unique<Resolution>();
        resolution->owner = this;
        resolution->onResolved = std::move(onResolved);
        // Answers come from the loop only (the bus is not dispatched while the resolver is being made).
        resolution->resolver =
            avahi_service_resolver_new(client, result.interfaceIndex, protocol, result.name.c_str(),
                                       result.type.c_str(), result.domain.c_str(), protocol,
                                       AvahiLookupFlags(0), &Implementation::resolved, resolution.get());
        if (!resolution->resolver) {
            failLater(std::move(resolution->onResolved), avahi_client_errno(client));
            return;
        }
        resolutions_.push_back(std::move(resolution));
    }

private:
    struct Resolution {
        Implementation* owner = nullptr;
        AvahiServiceResolver* resolver = nullptr;
        ResolveHandler onResolved;
    };

    const Logger& logger() const { return connection_.logger(); }

    void withdraw() {
        if (!isStarted_) {
            failures_.clear();
            return;
        }
        isStarted_ = false;
        for (auto& resolution : resolutions_)
            avahi_service_resolver_free(resolution->resolver);
        resolutions_.clear();
        failures_.clear();
        if (browser_) {
            avahi_service_browser_free(browser_);
            browser_ = nullptr;
        }
        connection_.close();
        results_.clear();
        stateReporter_.stop();
        onResultsChanged_ = nullptr;
    }

    void clientRunning(AvahiClient* client) override {
        if (!isStarted_ || hasFailed_ || browser_)
            return;
        browser_ =
            avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type_.c_str(), nullptr,
                                      AvahiLookupFlags(0), &Implementation::browseEvent, this);
        if (!browser_) {
            fail(avahi_client_errno(client));
            return;
        }
        stateReporter_.report(ServiceDiscoveryState::ready());
    }

    void clientRegistering() override {}

    void clientUnavailable(const ServiceDiscoveryError& error) override {
        if (!isStarted_)
            return;
        // The browser and the resolvers die with the client; what they found is no longer known.
        if (browser_) {
            avahi_service_browser_free(browser_);
            browser_ = nullptr;
        }
        auto resolutions = std::move(resolutions_);
        resolutions_.clear();
        for (auto& resolution : resolutions) {
            avahi_service_resolver_free(resolution->resolver);
            complete(std::move(resolution->onResolved), std::unexpected(error));
        }
        clearResults();
        if (!hasFailed_)
            stateReporter_.report(ServiceDiscoveryState::waiting(error));
    }

    static void browseEvent(AvahiBrowseObject* browser, AvahiIfIndex interfaceIndex, AvahiProtocol protocol,
                            AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                            AvahiLookupResultFlags, void* userdata) {
        auto* implementation = static_cast<Implementation*>(userdata);
        AvahiClientConnection::CallbackScope scope(implementation->connection_);
        implementation->connection_.runAvahiCallback([&] {
            implementation->handleBrowseEvent(browser, interfaceIndex, protocol, event, name, type, domain);
        });
    }

    void handleBrowseEvent(AvahiBrowseObject* browser, AvahiIfIndex interfaceIndex, AvahiProtocol protocol,
                           AvahiBrowserEvent event, const char* name, const char* type, const char* domain) {
        if (!isStarted_ || hasFailed_ || (browser_ && browser != browser_))
            return;
        switch (event) {
            case AVAHI_BROWSER_NEW: {
                ServiceBrowseResult result{textOrEmpty(name), textOrEmpty(type), textOrEmpty(domain),
                                           interfaceIndex};
                auto& protocols = results_[result];
                bool isNew = protocols.empty();
                protocols.insert(protocol);
                if (isNew) {
                    logger().debug("Found service ", privateValue(result.name), " of type ", result.type,
                                   " on interface ", interfaceIndex);
                    reportResults();
                }
                break;
            }
            case AVAHI_BROWSER_REMOVE: {
                ServiceBrowseResult result{textOrEmpty(name), textOrEmpty(type), textOrEmpty(domain),
                                           interfaceIndex};
                auto found = results_.find(result);
                if (found == results_.end())
                    break;
                found->second.erase(protocol);
                if (found->second.empty()) {
                    results_.erase(found);
                    logger().debug("Lost service ", privateValue(result.name), " of type ", result.type,
                                   " on interface ", interfaceIndex);
                    reportResults();
                }
                break;
            }
            case AVAHI_BROWSER_FAILURE:
                fail(avahi_client_errno(avahi_service_browser_get_client(browser)));
                break;
            case AVAHI_BROWSER_CACHE_EXHAUSTED:
            case AVAHI_BROWSER_ALL_FOR_NOW:
                break;
        }
    }

    static void resolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol,
                         AvahiResolverEvent event, const char* name, const char* type, const char* domain,
                         const char* hostName, const AvahiAddress* address, std::uint16_t port,
                         AvahiStringList* txt, AvahiLookupResultFlags, void* userdata) {
        auto* resolution = static_cast<Resolution*>(userdata);
        Implementation* implementation = resolution->owner;
        AvahiClientConnection::CallbackScope scope(implementation->connection_);
        implementation->connection_.runAvahiCallback([&] {
            implementation->handleResolved(resolution, resolver, event, name, type, domain, hostName, address,
                                           port, txt);
        });
    }

    void handleResolved(Resolution* resolution, AvahiServiceResolver* resolver, AvahiResolverEvent event,
                        const char* name, const char* type, const char* domain, const char* hostName,
                        const AvahiAddress* address, std::uint16_t port, AvahiStringList* txt) {
        std::expected<ResolvedService, ServiceDiscoveryError> outcome;
        if (event == AVAHI_RESOLVER_FOUND) {
            ResolvedService service{
                textOrEmpty(name), textOrEmpty(type), textOrEmpty(domain), textOrEmpty(hostName), {}, port,
                txtEntries(txt)};
            if (address) {
                std::array<char, AVAHI_ADDRESS_STR_MAX> text{};
                if (avahi_address_snprint(text.data(), text.size(), address))
                    service.address = text.data();
            }
            outcome = std::move(service);
        } else {
            outcome = std::unexpected(
                makeAvahiError(avahi_client_errno(avahi_service_resolver_get_client(resolver))));
        }
        finishResolution(resolution, std::move(outcome));
    }

    void finishResolution(Resolution* resolution,
                          std::expected<ResolvedService, ServiceDiscoveryError> outcome) {
        auto found =
            std::find_if(resolutions_.begin(), resolutions_.end(),
                         [resolution](const auto& candidate) { return candidate.get() == resolution; });
        if (found == resolutions_.end())
            return;
        auto finished = std::move(*found);
        resolutions_.erase(found);
        // A resolver keeps reporting changes while it lives; one answer is all that was asked for.
        avahi_service_resolver_free(finished->resolver);
        complete(std::move(finished->onResolved), std::move(outcome));
    }

    // Resolutions that cannot start fail on the loop's thread, like every other answer.
    void failLater(ResolveHandler onResolved, int avahiErrorCode) {
        failures_.push_back({std::move(onResolved), makeAvahiError(avahiErrorCode)});
        failureTimer_->schedule(0ms);
    }

    void deliverFailures() {
        auto failures = std::move(failures_);
        failures_.clear();
        for (auto& [onResolved, error] : failures)
            complete(std::move(onResolved), std::unexpected(std::move(error)));
    }

    void complete(ResolveHandler onResolved, std::expected<ResolvedService, ServiceDiscoveryError> outcome) {
        if (!onResolved)
            return;
        connection_.callHandler("resolution handler", [&] { onResolved(std::move(outcome)); });
    }

    // Browsing stops for good (until the next start); the browser object stays, idle, until then.
    void fail(int avahiErrorCode) {
        hasFailed_ = true;
        logger().error("Cannot browse for ", type_, ": ", avahi_strerror(avahiErrorCode));
        clearResults();
        stateReporter_.report(ServiceDiscoveryState::failed(makeAvahiError(avahiErrorCode)));
    }

    void clearResults() {
        if (results_.empty())
            return;
        results_.clear();
        reportResults();
    }

    void reportResults() {
        if (!onResultsChanged_)
            return;
        std::vector<ServiceBrowseResult> results;
        results.reserve(results_.size());
        for (const auto& entry : results_)
            results.push_back(entry.first);
        connection_.callHandler("browser results handler", [&] { onResultsChanged_(results); });
    }

    // Declared first, destroyed last: its loop thread is stopped after everything below is gone.
    AvahiClientConnection connection_;
    std::unique_ptr<AvahiTimer> failureTimer_;
    std::string type_;
    AvahiStateReporter stateReporter_{connection_, "browser state handler"};
    ResultsHandler onResultsChanged_;
    AvahiBrowseObject* browser_ = nullptr;
    // Each result with the protocols (IPv4, IPv6) it was seen over; it goes when the last one does.
    std::map<ServiceBrowseResult, std::set<AvahiProtocol>> results_;
    std::list<std::unique_ptr<Resolution>> resolutions_;
    std::vector<std::pair<ResolveHandler, ServiceDiscoveryError>> failures_;
    bool isStarted_ = false;
    bool hasFailed_ = false;
};

AvahiServiceBrowser::AvahiServiceBrowser() : implementation_(std::make_unique<Implementation>()) {}

AvahiServiceBrowser::~AvahiServiceBrowser() = default;

void AvahiServiceBrowser::start(std::string type, StateHandler onStateUpdate,
                                ResultsHandler onResultsChanged) {
    implementation_->start(std::move(type), std::move(onStateUpdate), std::move(onResultsChanged));
}

void AvahiServiceBrowser::stop() {
    implementation_->stop();
}

void AvahiServiceBrowser::resolve(const ServiceBrowseResult& result, ResolveHandler onResolved) {
    implementation_->resolve(result, std::move(onResolved));
}

}  // namespace quillbridge
