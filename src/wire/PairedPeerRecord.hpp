#pragma once

#include <optional>
#include <string>
#include <tuple>

#include "core/Bytes.hpp"
#include "core/Date.hpp"
#include "core/Json.hpp"
#include "core/Uuid.hpp"

namespace quillbridge {

// One paired headset as the peer store keeps it, identified by `id`. `signingPublicKey` is the raw 64-byte
// P-256 key from pairing; `tlsCertificate` is the DER of its TLS certificate once known.
struct PairedPeerRecord {
    Uuid id;
    std::string name;
    Bytes signingPublicKey;
    std::optional<Bytes> tlsCertificate;
    std::optional<Date> lastSeenAt;
};

template <>
struct JsonFields<PairedPeerRecord> {
    static auto fields() {
        return std::tuple{jsonField("id", &PairedPeerRecord::id), jsonField("name", &PairedPeerRecord::name),
                          jsonField("signingPublicKey", &PairedPeerRecord::signingPublicKey),
                          jsonField("tlsCertificate", &PairedPeerRecord::tlsCertificate),
                          jsonField("lastSeenAt", &PairedPeerRecord::lastSeenAt)};
    }
};

}  // namespace quillbridge
