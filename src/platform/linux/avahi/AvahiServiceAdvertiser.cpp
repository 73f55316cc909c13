#include "platform/linux/avahi/AvahiServiceAdvertiser.hpp"

#include <exception>
#include <optional>
#include <string>
#include <utility>

#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/domain.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include "platform/linux/avahi/AvahiClientConnection.hpp"
#include "platform/linux/avahi/AvahiError.hpp"
#include "platform/linux/avahi/AvahiStateReporter.hpp"

namespace quillbridge {

namespace {

// A service name is one DNS label: at most 63 bytes.
constexpr std::size_t maximumServiceNameLength = AVAHI_LABEL_MAX - 1;
// One TXT entry, "key=value", is at most 255 bytes.
constexpr std::size_t maximumTxtEntryLength = 255;
// Names taken on this host are replaced at once; give up after this many.
constexpr int maximumImmediateRenames = 64;

// A longer name is cut at a character boundary rather than refused, so that a long host name still
// publishes.
std::string shortenedServiceName(std::string name) {
    if (name.size() <= maximumServiceNameLength)
        return name;
    std::size_t end = maximumServiceNameLength;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    name.resize(end);
    return name;
}

// Keys are printable ASCII without "=" (RFC 6763, section 6.4).
bool isValidTxtEntry(const std::string& key, const std::string& value) {
    if (key.empty() || key.size() + 1 + value.size() > maximumTxtEntryLength)
        return false;
    for (char c : key) {
        if (c < 0x20 || c > 0x7e || c == '=')
            return false;
    }
    return true;
}

}  // namespace

class AvahiServiceAdvertiser::Implementation final : private AvahiClientConnection::Observer {
public:
    Implementation() : connection_(*this) {}

    ~Implementation() {
        AvahiClientConnection::Lock lock(connection_);
        withdraw();
    }

    void start(ServiceAdvertisement advertisement, StateHandler onStateUpdate) {
        AvahiClientConnection::Lock lock(connection_);
        withdraw();
        advertisement_ = std::move(advertisement);
        serviceName_ = shortenedServiceName(advertisement_.name);
        stateReporter_.start(std::move(onStateUpdate));
        isStarted_ = true;
        hasFailed_ = false;
        isPublished_ = false;
        connection_.open();
    }

    void stop() {
        AvahiClientConnection::Lock lock(connection_);
        withdraw();
    }

private:
    const Logger& logger() const { return connection_.logger(); }

    void withdraw() {
        if (!isStarted_)
            return;
        isStarted_ = false;
        freeGroup();
        connection_.close();
        stateReporter_.stop();
        if (isPublished_)
            logger().info("Withdrew service ", privateValue(serviceName_));
        isPublished_ = false;
    }

    void freeGroup() {
        if (!group_)
            return;
        avahi_entry_group_free(group_);
        group_ = nullptr;
    }

    void clientRunning(AvahiClient* client) override {
        if (!isStarted_ || hasFailed_)
            return;
        if (!group_) {
            group_ = avahi_entry_group_new(client, &Implementation::groupChanged, this);
            if (!group_) {
                fail(avahi_client_errno(client));
                return;
            }
        }
        if (avahi_entry_group_is_empty(group_))
            addService();
    }

    void clientRegistering() override {
        // The host's records are being established again (a new host name, say); ours follow once the
        // client runs again.
        if (group_)
            avahi_entry_group_reset(group_);
        isPublished_ = false;
    }

    void clientUnavailable(const ServiceDiscoveryError& error) override {
        freeGroup();
        isPublished_ = false;
        if (isStarted_ && !hasFailed_)
            stateReporter_.report(ServiceDiscoveryState::waiting(error));
    }

    // Adds the service to the empty group under the current name and commits it; a name already taken on
    // this host is replaced right away.
    void addService() {
        if (serviceName_.find('\0') != std::string::npos) {
            fail(AVAHI_ERR_INVALID_SERVICE_NAME);
            return;
        }
        AvahiStringList* txt = nullptr;
        for (const auto& [key, value] : advertisement_.txtRecord) {
            if (!isValidTxtEntry(key, value)) {
                avahi_string_list_free(txt);
                fail(AVAHI_ERR_INVALID_RECORD);
                return;
            }
            txt = avahi_string_list_add_pair_arbitrary(
                txt, key.c_str(), reinterpret_cast<const std::uint8_t*>(value.data()), value.size());
            if (!txt) {
                fail(AVAHI_ERR_NO_MEMORY);
                return;
            }
        }
        int result = AVAHI_OK;
        for (int renames = 0;; ++renames) {
            result = avahi_entry_group_add_service_strlst(
                group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), serviceName_.c_str(),
                advertisement_.type.c_str(), nullptr, nullptr, advertisement_.port, txt);
            if (result != AVAHI_ERR_COLLISION || renames == maximumImmediateRenames)
                break;
            rename();
        }
        avahi_string_list_free(txt);
        if (result == AVAHI_OK)
            result = avahi_entry_group_commit(group_);
        if (result < 0)
            fail(result);
    }

    void rename() {
        char* alternative = avahi_alternative_service_name(serviceName_.c_str());
        if (!alternative)
            return;
        logger().notice("Service name ", privateValue(serviceName_), " is taken; publishing as ",
                        privateValue(std::string_view(alternative)));
        serviceName_ = alternative;
        avahi_free(alternative);
    }

    static void groupChanged(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata) {
        auto* implementation = static_cast<Implementation*>(userdata);
        AvahiClientConnection::CallbackScope scope(implementation->connection_);
        implementation->connection_.runAvahiCallback([&] { implementation->handleGroupState(group, state); });
    }

    void handleGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state) {
        // The first call comes from within avahi_entry_group_new, before group_ is set.
        if (!isStarted_ || hasFailed_ || (group_ && group != group_))
            return;
        switch (state) {
            case AVAHI_ENTRY_GROUP_ESTABLISHED:
                logger().info("Published service ", privateValue(serviceName_), " of type ",
                              advertisement_.type, " on port ", advertisement_.port);
                isPublished_ = true;
                stateReporter_.report(ServiceDiscoveryState::ready(serviceName_));
                break;
            case AVAHI_ENTRY_GROUP_COLLISION:
                // Another host holds the name: take the next alternative and publish again.
                isPublished_ = false;
                rename();
                avahi_entry_group_reset(group);
                addService();
                break;
            case AVAHI_ENTRY_GROUP_FAILURE:
                isPublished_ = false;
                fail(avahi_client_errno(avahi_entry_group_get_client(group)));
                break;
            case AVAHI_ENTRY_GROUP_UNCOMMITED:
            case AVAHI_ENTRY_GROUP_REGISTERING:
                break;
        }
    }

    // Stops publishing for good (until the next start); the group stays, empty, until then.
    void fail(int avahiErrorCode) {
        hasFailed_ = true;
        if (group_)
            avahi_entry_group_reset(group_);
        logger().error("Cannot publish service ", privateValue(serviceName_), ": ",
                       avahi_strerror(avahiErrorCode));
        stateReporter_.report(ServiceDiscoveryState::failed(makeAvahiError(avahiErrorCode)));
    }

    // Declared first, destroyed last: its loop thread is stopped after everything below is gone (nothing
    // of ours is left on the loop by then).
    AvahiClientConnection connection_;
    ServiceAdvertisement advertisement_;
    std::string serviceName_;
    AvahiStateReporter stateReporter_{connection_, "advertiser state handler"};
    AvahiEntryGroup* group_ = nullptr;
    bool isStarted_ = false;
    bool hasFailed_ = false;
    bool isPublished_ = false;
};

AvahiServiceAdvertiser::AvahiServiceAdvertiser() : implementation_(std::make_unique<Implementation>()) {}

AvahiServiceAdvertiser::~AvahiServiceAdvertiser() = default;

void AvahiServiceAdvertiser::start(ServiceAdvertisement advertisement, StateHandler onStateUpdate) {
    implementation_->start(std::move(advertisement), std::move(onStateUpdate));
}

void AvahiServiceAdvertiser::stop() {
    implementation_->stop();
}

}  // namespace quillbridge
