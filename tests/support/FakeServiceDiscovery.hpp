#pragma once

// In-memory service discovery for unit tests: advertisers publish into a FakeServiceDiscovery and the
// browsers made from it see what is published there, their own host's services included, as with the real
// daemon. Services of other hosts are added by the test.
//
// With `respondsAutomatically` (the default) a started advertiser is published and reports ready, and a
// started browser reports ready and its results, at once, from within start(); without it nothing happens
// until the test reports states and results itself. Handlers run synchronously on the calling thread.
// Use one FakeServiceDiscovery and its fakes from one thread; the fakes must not outlive it.

#include <algorithm>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session/ServiceAdvertiser.hpp"
#include "session/ServiceBrowser.hpp"

namespace quillbridge {

class FakeServiceDiscovery;

class FakeServiceAdvertiser final : public ServiceAdvertiser {
public:
    explicit FakeServiceAdvertiser(FakeServiceDiscovery& discovery) : discovery_(discovery) {}
    ~FakeServiceAdvertiser() override;

    void start(ServiceAdvertisement advertisement, StateHandler onStateUpdate) override;
    void stop() override;

    // Test side.
    // Delivers a state to the handler of a started advertiser; `ready` also publishes the service under the
    // state's name (the advertisement's name when the state has none), `waiting` and `failed` withdraw it.
    void reportState(const ServiceDiscoveryState& state);
    bool isStarted() const { return isStarted_; }
    bool isPublished() const { return publishedName_.has_value(); }
    // The advertisement of the last start, kept after stop.
    const std::optional<ServiceAdvertisement>& advertisement() const { return advertisement_; }
    // The name the service is visible under while published.
    const std::optional<std::string>& publishedName() const { return publishedName_; }
    int startCount() const { return startCount_; }
    int stopCount() const { return stopCount_; }

private:
    friend class FakeServiceDiscovery;

    FakeServiceDiscovery& discovery_;
    StateHandler onStateUpdate_;
    std::optional<ServiceAdvertisement> advertisement_;
    std::optional<std::string> publishedName_;
    bool isStarted_ = false;
    int startCount_ = 0;
    int stopCount_ = 0;
};

class FakeServiceBrowser final : public ServiceBrowser {
public:
    explicit FakeServiceBrowser(FakeServiceDiscovery& discovery) : discovery_(discovery) {}
    ~FakeServiceBrowser() override;

    void start(std::string type, StateHandler onStateUpdate, ResultsHandler onResultsChanged) override;
    void stop() override;
    // Answers at once from what is visible: the service, or the daemon's "Not found" error.
    void resolve(const ServiceBrowseResult& result, ResolveHandler onResolved) override;

    // Test side.
    // Delivers a state to the handler of a started browser; `ready` makes it report what is visible,
    // `waiting` and `failed` empty its results.
    void reportState(const ServiceDiscoveryState& state);
    bool isStarted() const { return isStarted_; }
    bool isBrowsing() const { return isBrowsing_; }
    // The type of the last start, kept after stop.
    const std::optional<std::string>& type() const { return type_; }
    const std::vector<ServiceBrowseResult>& results() const { return results_; }
    int startCount() const { return startCount_; }
    int stopCount() const { return stopCount_; }

private:
    friend class FakeServiceDiscovery;
    void refresh();

    FakeServiceDiscovery& discovery_;
    StateHandler onStateUpdate_;
    ResultsHandler onResultsChanged_;
    std::optional<std::string> type_;
    std::vector<ServiceBrowseResult> results_;
    bool isStarted_ = false;
    bool isBrowsing_ = false;
    int startCount_ = 0;
    int stopCount_ = 0;
};

class FakeServiceDiscovery {
public:
    // The interface index that the host's own services are seen on.
    static constexpr int localInterfaceIndex = 1;

    bool respondsAutomatically = true;

    std::unique_ptr<FakeServiceAdvertiser> makeAdvertiser() {
        auto advertiser = std::make_unique<FakeServiceAdvertiser>(*this);
        advertisers_.push_back(advertiser.get());
        return advertiser;
    }

    std::unique_ptr<FakeServiceBrowser> makeBrowser() {
        auto browser = std::make_unique<FakeServiceBrowser>(*this);
        browsers_.push_back(browser.get());
        return browser;
    }

    // A service of another host, seen by every browser of its type.
    void addRemoteService(ResolvedService service, int interfaceIndex = 2) {
        remoteServices_.push_back({std::move(service), interfaceIndex});
        refreshBrowsers();
    }

    void removeRemoteService(const std::string& name, const std::string& type) {
        std::erase_if(remoteServices_, [&](const auto& remote) {
            return remote.service.name == name && remote.service.type == type;
        });
        refreshBrowsers();
    }

    // The fakes alive now, oldest first.
    const std::vector<FakeServiceAdvertiser*>& advertisers() const { return advertisers_; }
    const std::vector<FakeServiceBrowser*>& browsers() const { return browsers_; }
    FakeServiceAdvertiser* lastAdvertiser() const {
        return advertisers_.empty() ? nullptr : advertisers_.back();
    }
    FakeServiceBrowser* lastBrowser() const { return browsers_.empty() ? nullptr : browsers_.back(); }

    // Every service visible now, as a browser's resolution would give it.
    std::vector<std::pair<ServiceBrowseResult, ResolvedService>> visibleServices(
        const std::string& type) const {
        std::vector<std::pair<ServiceBrowseResult, ResolvedService>> services;
        for (const auto* advertiser : advertisers_) {
            if (!advertiser->publishedName_ || advertiser->advertisement_->type != type)
                continue;
            const auto& published = *advertiser->advertisement_;
            ResolvedService service{*advertiser->publishedName_, published.type, "local",
                                    "localhost.local",           "127.0.0.1",    published.port,
                                    published.txtRecord};
            services.push_back({{service.name, service.type, service.domain, localInterfaceIndex}, service});
        }
        for (const auto& remote : remoteServices_) {
            if (remote.service.type != type)
                continue;
            services.push_back(
                {{remote.service.name, remote.service.type, remote.service.domain, remote.interfaceIndex},
                 remote.service});
        }
        return services;
    }

private:
    friend class FakeServiceAdvertiser;
    friend class FakeServiceBrowser;

    struct RemoteService {
        ResolvedService service;
        int interfaceIndex = 2;
    };

    void refreshBrowsers() {
        // A handler may start or stop browsers; work on a copy.
        auto browsers = browsers_;
        for (auto* browser : browsers) {
            if (std::ranges::find(browsers_, browser) != browsers_.end())
                browser->refresh();
        }
    }

    void forget(FakeServiceAdvertiser* advertiser) { std::erase(advertisers_, advertiser); }
    void forget(FakeServiceBrowser* browser) { std::erase(browsers_, browser); }

    std::vector<FakeServiceAdvertiser*> advertisers_;
    std::vector<FakeServiceBrowser*> browsers_;
    std::vector<RemoteService> remoteServices_;
};

inline FakeServiceAdvertiser::~FakeServiceAdvertiser() {
    bool wasPublished = publishedName_.has_value();
    publishedName_.reset();
    discovery_.forget(this);
    if (wasPublished)
        discovery_.refreshBrowsers();
}

inline void FakeServiceAdvertiser::start(ServiceAdvertisement advertisement, StateHandler onStateUpdate) {
    bool wasPublished = publishedName_.has_value();
    publishedName_.reset();
    advertisement_ = std::move(advertisement);
    onStateUpdate_ = std::move(onStateUpdate);
    isStarted_ = true;
    ++startCount_;
    if (discovery_.respondsAutomatically) {
        reportState(ServiceDiscoveryState::ready(advertisement_->name));
    } else if (wasPublished) {
        discovery_.refreshBrowsers();
    }
}

inline void FakeServiceAdvertiser::stop() {
    if (!isStarted_)
        return;
    isStarted_ = false;
    ++stopCount_;
    onStateUpdate_ = nullptr;
    if (publishedName_) {
        publishedName_.reset();
        discovery_.refreshBrowsers();
    }
}

inline void FakeServiceAdvertiser::reportState(const ServiceDiscoveryState& state) {
    if (!isStarted_)
        return;
    ServiceDiscoveryState delivered = state;
    if (state.status == ServiceDiscoveryState::Status::ready) {
        if (delivered.serviceName.empty())
            delivered.serviceName = advertisement_->name;
        publishedName_ = delivered.serviceName;
    } else {
        publishedName_.reset();
    }
    discovery_.refreshBrowsers();
    // A copy: the handler stays alive for its call even when it is replaced or dropped meanwhile.
    auto onStateUpdate = onStateUpdate_;
    if (onStateUpdate)
        onStateUpdate(delivered);
}

inline FakeServiceBrowser::~FakeServiceBrowser() {
    discovery_.forget(this);
}

inline void FakeServiceBrowser::start(std::string type, StateHandler onStateUpdate,
                                      ResultsHandler onResultsChanged) {
    type_ = std::move(type);
    onStateUpdate_ = std::move(onStateUpdate);
    onResultsChanged_ = std::move(onResultsChanged);
    results_.clear();
    isStarted_ = true;
    isBrowsing_ = false;
    ++startCount_;
    if (discovery_.respondsAutomatically)
        reportState(ServiceDiscoveryState::ready());
}

inline void FakeServiceBrowser::stop() {
    if (!isStarted_)
        return;
    isStarted_ = false;
    isBrowsing_ = false;
    ++stopCount_;
    onStateUpdate_ = nullptr;
    onResultsChanged_ = nullptr;
    results_.clear();
}

inline void FakeServiceBrowser::resolve(const ServiceBrowseResult& result, ResolveHandler onResolved) {
    if (isBrowsing_ && type_) {
        for (const auto& [found, service] : discovery_.visibleServices(*type_)) {
            if (found == result) {
                onResolved(service);
                return;
            }
        }
    }
    onResolved(std::unexpected(ServiceDiscoveryError{ServiceDiscoveryError::Domain::dns, -30, "Not found"}));
}

inline void FakeServiceBrowser::reportState(const ServiceDiscoveryState& state) {
    if (!isStarted_)
        return;
    isBrowsing_ = state.status == ServiceDiscoveryState::Status::ready;
    // The state first, then the results, as the real browser reports them.
    auto onStateUpdate = onStateUpdate_;
    if (onStateUpdate)
        onStateUpdate(state);
    if (isStarted_)
        refresh();
}

inline void FakeServiceBrowser::refresh() {
    if (!isStarted_)
        return;
    std::vector<ServiceBrowseResult> results;
    if (isBrowsing_ && type_) {
        for (const auto& [result, service] : discovery_.visibleServices(*type_))
            results.push_back(result);
        std::ranges::sort(results);
        results.erase(std::unique(results.begin(), results.end()), results.end());
    }
    if (results == results_)
        return;
    results_ = std::move(results);
    auto onResultsChanged = onResultsChanged_;
    if (onResultsChanged)
        onResultsChanged(results_);
}

}  // namespace quillbridge
