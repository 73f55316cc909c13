#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>

#include "core/Json.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// Control message `hello`. The first control message of a session, from either side: who the sender is,
// whether it asks to pair, and which control protocol versions it speaks.
struct SessionHelloMessage {
    Uuid peerID;
    std::string displayName;
    bool wantsPairing = false;
    std::uint16_t controlProtocolVersion = 0;
    std::uint16_t minimumCompatibleControlProtocolVersion = 0;
};

template <>
struct JsonFields<SessionHelloMessage> {
    static auto fields() {
        return std::tuple{jsonField("peerID", &SessionHelloMessage::peerID),
                          jsonField("displayName", &SessionHelloMessage::displayName),
                          jsonField("wantsPairing", &SessionHelloMessage::wantsPairing),
                          jsonField("controlProtocolVersion", &SessionHelloMessage::controlProtocolVersion),
                          jsonField("minimumCompatibleControlProtocolVersion",
                                    &SessionHelloMessage::minimumCompatibleControlProtocolVersion)};
    }
};

// The control protocol version this host speaks, which is also the lowest it accepts from a peer.
inline constexpr std::uint16_t hostControlProtocolVersion = 19;

// The version a session with the sender of `hello` runs: the smaller of the sender's version and ours,
// provided that is at least ours and at least the sender's minimum. Nothing for an incompatible hello.
constexpr std::optional<std::uint16_t> negotiatedControlProtocolVersion(const SessionHelloMessage& hello) {
    std::uint16_t version = std::min(hello.controlProtocolVersion, hostControlProtocolVersion);
    if (version < hostControlProtocolVersion || version < hello.minimumCompatibleControlProtocolVersion) {
        return std::nullopt;
    }
    return version;
}

}  // namespace quillbridge
