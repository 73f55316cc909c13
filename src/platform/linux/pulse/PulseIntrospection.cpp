#include "platform/linux/pulse/PulseIntrospection.hpp"

#include <pulse/introspect.h>

namespace quillbridge {
namespace {

// Runs a list query (`start` is given the context, the item callback and its userdata), turning each item
// with `convert`; the end of the list wakes the waiter.
template <class Info, class Item, class Start, class Convert>
std::optional<std::vector<Item>> list(const PulseConnection& connection, Start start, Convert convert) {
    struct Listing {
        const PulseConnection* connection;
        Convert convert;
        std::vector<Item> items;
    } listing{&connection, std::move(convert), {}};
    pa_operation* operation = start(
        connection.context(),
        [](pa_context*, const Info* info, int endOfList, void* userdata) {
            auto* listing = static_cast<Listing*>(userdata);
            if (endOfList != 0 || info == nullptr) {
                listing->connection->signal();
                return;
            }
            listing->items.push_back(listing->convert(*info));
        },
        &listing);
    if (!connection.wait(operation)) {
        return std::nullopt;
    }
    return std::move(listing.items);
}

}  // namespace

std::optional<std::vector<PulseSinkSummary>> PulseIntrospection::sinks(const PulseConnection& connection,
                                                                       const std::string& property) {
    return list<pa_sink_info, PulseSinkSummary>(
        connection,
        [](pa_context* context, pa_sink_info_cb_t callback, void* userdata) {
            return pa_context_get_sink_info_list(context, callback, userdata);
        },
        [&property](const pa_sink_info& info) {
            PulseSinkSummary sink{
                info.index, info.name != nullptr ? info.name : "", info.owner_module, info.mute != 0, {}};
            const char* value = property.empty() || info.proplist == nullptr
                                    ? nullptr
                                    : pa_proplist_gets(info.proplist, property.c_str());
            if (value != nullptr) {
                sink.property = value;
            }
            return sink;
        });
}

std::optional<std::vector<PulseSinkInputSummary>> PulseIntrospection::sinkInputs(
    const PulseConnection& connection) {
    return list<pa_sink_input_info, PulseSinkInputSummary>(
        connection,
        [](pa_context* context, pa_sink_input_info_cb_t callback, void* userdata) {
            return pa_context_get_sink_input_info_list(context, callback, userdata);
        },
        [](const pa_sink_input_info& info) {
            return PulseSinkInputSummary{info.index, info.sink};
        });
}

std::optional<std::string> PulseIntrospection::defaultSinkName(const PulseConnection& connection) {
    struct Query {
        const PulseConnection* connection;
        std::string name;
    } query{&connection, {}};
    pa_operation* operation = pa_context_get_server_info(
        connection.context(),
        [](pa_context*, const pa_server_info* info, void* userdata) {
            auto* query = static_cast<Query*>(userdata);
            if (info != nullptr && info->default_sink_name != nullptr) {
                query->name = info->default_sink_name;
            }
            query->connection->signal();
        },
        &query);
    if (!connection.wait(operation)) {
        return std::nullopt;
    }
    return query.name;
}

}  // namespace quillbridge
