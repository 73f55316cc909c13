#pragma once

#include <cstdint>
#include <optional>
#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `personaCameraReceiverReport`: the largest frame identifier the host has taken from the
// Persona camera stream. The host always fills it; the field is optional on the wire.
struct PersonaCameraReceiverReportMessage {
    std::optional<std::uint64_t> highestReceivedFrameID;
};

template <>
struct JsonFields<PersonaCameraReceiverReportMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("highestReceivedFrameID", &PersonaCameraReceiverReportMessage::highestReceivedFrameID)};
    }
};

}  // namespace quillbridge
