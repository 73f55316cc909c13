#pragma once

#include <array>
#include <string_view>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// Why a pairing or a reconnect was refused. It is the payload of `pairingRejected` (written as the bare
// raw value) and the `reason` of a refused authentication result. "canceled" has one l.
enum class PairingFailureReason {
    busy,
    unpaired,
    incompatibleVersion,
    invalidPin,
    tooManyAttempts,
    expired,
    canceled,
    identityChanged,
    certificateChanged,
    failed,
};

template <>
struct JsonEnumCases<PairingFailureReason> {
    using enum PairingFailureReason;
    static constexpr std::array cases{
        rawCase(busy, "busy"),
        rawCase(unpaired, "unpaired"),
        rawCase(incompatibleVersion, "incompatibleVersion"),
        rawCase(invalidPin, "invalidPin"),
        rawCase(tooManyAttempts, "tooManyAttempts"),
        rawCase(expired, "expired"),
        rawCase(canceled, "canceled"),
        rawCase(identityChanged, "identityChanged"),
        rawCase(certificateChanged, "certificateChanged"),
        rawCase(failed, "failed"),
    };
};
static_assert(isWellFormedRawValueTable<PairingFailureReason>());

}  // namespace quillbridge
