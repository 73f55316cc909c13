#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

#include "core/Json.hpp"
#include "wire/AudioStreamFormatAnnouncementMessage.hpp"
#include "wire/AuthenticationChallengeMessage.hpp"
#include "wire/AuthenticationResponseMessage.hpp"
#include "wire/AuthenticationResultMessage.hpp"
#include "wire/CertificateRotationMessage.hpp"
#include "wire/ClipboardTransferCancelMessage.hpp"
#include "wire/ClipboardTransferRequestMessage.hpp"
#include "wire/ClipboardTransferResultMessage.hpp"
#include "wire/ClockSynchronizationRequestMessage.hpp"
#include "wire/ClockSynchronizationResponseMessage.hpp"
#include "wire/ClockSynchronizationResultMessage.hpp"
#include "wire/DisplayGeometryMessage.hpp"
#include "wire/KeyFrameRequestMessage.hpp"
#include "wire/KeyboardEventMessage.hpp"
#include "wire/KeyboardLayoutSnapshot.hpp"
#include "wire/KeyboardLockStateMessage.hpp"
#include "wire/KeyboardTypePreferenceMessage.hpp"
#include "wire/MicrophoneFormatMessage.hpp"
#include "wire/MicrophoneReceiverReportMessage.hpp"
#include "wire/MicrophoneRequestMessage.hpp"
#include "wire/MicrophoneSharingStateMessage.hpp"
#include "wire/MouseClickMessage.hpp"
#include "wire/MouseMoveMessage.hpp"
#include "wire/MousePositionMessage.hpp"
#include "wire/MouseScrollMessage.hpp"
#include "wire/PairingAcceptedMessage.hpp"
#include "wire/PairingChallengeMessage.hpp"
#include "wire/PairingClientChallengeMessage.hpp"
#include "wire/PairingClientConfirmationMessage.hpp"
#include "wire/PairingClientResponseMessage.hpp"
#include "wire/PairingFailureReason.hpp"
#include "wire/PairingRoundRejectedMessage.hpp"
#include "wire/PairingServerChallengeMessage.hpp"
#include "wire/PairingServerConfirmationMessage.hpp"
#include "wire/PairingStartMessage.hpp"
#include "wire/PersonaCameraFormatDescriptionMessage.hpp"
#include "wire/PersonaCameraReceiverReportMessage.hpp"
#include "wire/PersonaCameraRequestMessage.hpp"
#include "wire/PersonaCameraSharingStateMessage.hpp"
#include "wire/SessionHelloMessage.hpp"
#include "wire/StreamConfigurationMessage.hpp"
#include "wire/StreamReceiverReportMessage.hpp"
#include "wire/SystemActionMessage.hpp"
#include "wire/TextInputMessage.hpp"
#include "wire/VideoFormatDescriptionMessage.hpp"

namespace quillbridge {

// The cases of the control message in their declared order, one X(case, payload type) per case. A
// case's name is its JSON key; the four cases without a payload carry `NoPayload`. The case enumeration,
// the names and the payload variant of StreamControlMessage are all generated from this one list.
#define QUILLBRIDGE_STREAM_CONTROL_MESSAGE_CASES(X)                      \
    X(hello, SessionHelloMessage)                                        \
    X(authenticate, AuthenticationChallengeMessage)                      \
    X(authenticationResponse, AuthenticationResponseMessage)             \
    X(authenticationResult, AuthenticationResultMessage)                 \
    X(pairingStart, PairingStartMessage)                                 \
    X(pairingChallenge, PairingChallengeMessage)                         \
    X(pairingClientChallenge, PairingClientChallengeMessage)             \
    X(pairingServerChallenge, PairingServerChallengeMessage)             \
    X(pairingClientResponse, PairingClientResponseMessage)               \
    X(pairingServerConfirmation, PairingServerConfirmationMessage)       \
    X(pairingClientConfirmation, PairingClientConfirmationMessage)       \
    X(pairingRoundRejected, PairingRoundRejectedMessage)                 \
    X(pairingAccepted, PairingAcceptedMessage)                           \
    X(pairingRejected, PairingFailureReason)                             \
    X(videoFormat, VideoFormatDescriptionMessage)                        \
    X(displayGeometry, DisplayGeometryMessage)                           \
    X(streamConfiguration, StreamConfigurationMessage)                   \
    X(requestKeyFrame, KeyFrameRequestMessage)                           \
    X(certificateRotation, CertificateRotationMessage)                   \
    X(receiverReport, StreamReceiverReportMessage)                       \
    X(clockSynchronizationRequest, ClockSynchronizationRequestMessage)   \
    X(clockSynchronizationResponse, ClockSynchronizationResponseMessage) \
    X(clockSynchronizationResult, ClockSynchronizationResultMessage)     \
    X(audioFormat, AudioStreamFormatAnnouncementMessage)                 \
    X(personaCameraSharingState, PersonaCameraSharingStateMessage)       \
    X(personaCameraRequest, PersonaCameraRequestMessage)                 \
    X(personaCameraFormat, PersonaCameraFormatDescriptionMessage)        \
    X(personaCameraReceiverReport, PersonaCameraReceiverReportMessage)   \
    X(microphoneSharingState, MicrophoneSharingStateMessage)             \
    X(microphoneRequest, MicrophoneRequestMessage)                       \
    X(microphoneFormat, MicrophoneFormatMessage)                         \
    X(microphoneReceiverReport, MicrophoneReceiverReportMessage)         \
    X(receiverReady, NoPayload)                                          \
    X(heartbeat, NoPayload)                                              \
    X(sessionDisconnectRequest, NoPayload)                               \
    X(sessionDisconnectAcknowledged, NoPayload)                          \
    X(mouseClick, MouseClickMessage)                                     \
    X(mouseMove, MouseMoveMessage)                                       \
    X(mouseScroll, MouseScrollMessage)                                   \
    X(mousePosition, MousePositionMessage)                               \
    X(keyboardEvent, KeyboardEventMessage)                               \
    X(keyboardTypePreference, KeyboardTypePreferenceMessage)             \
    X(keyboardLayout, KeyboardLayoutSnapshot)                            \
    X(keyboardLockState, KeyboardLockStateMessage)                       \
    X(textInput, TextInputMessage)                                       \
    X(systemAction, SystemActionMessage)                                 \
    X(clipboardTransferRequest, ClipboardTransferRequestMessage)         \
    X(clipboardTransferCancel, ClipboardTransferCancelMessage)           \
    X(clipboardTransferResult, ClipboardTransferResultMessage)

namespace detail {
// std::variant of every type but the first: the case table expands to a list that starts with a comma.
template <typename Unused, typename... Types>
struct VariantOfRest {
    using type = std::variant<Types...>;
};
}  // namespace detail

#define QUILLBRIDGE_CASE_ENUMERATOR(name, type) name,
#define QUILLBRIDGE_CASE_NAME(name, type) std::string_view(#name),
#define QUILLBRIDGE_CASE_PAYLOAD(name, type) , type
#define QUILLBRIDGE_CASE_COUNT(name, type) +1

// One message of the control stream: one of 49 cases, each carrying at most one payload. Its JSON form
// is {"case":{"_0":payload}}, or {"case":{}} for the four cases without a payload.
struct StreamControlMessage {
    // The payload of the four cases that carry none.
    struct NoPayload {
        bool operator==(const NoPayload&) const = default;
    };

    // The cases in their declared order; a case's name is its JSON key.
    enum class Case : std::uint8_t { QUILLBRIDGE_STREAM_CONTROL_MESSAGE_CASES(QUILLBRIDGE_CASE_ENUMERATOR) };
    static constexpr std::size_t caseCount =
        0 QUILLBRIDGE_STREAM_CONTROL_MESSAGE_CASES(QUILLBRIDGE_CASE_COUNT);
    static constexpr std::array<std::string_view, caseCount> caseNames{
        QUILLBRIDGE_STREAM_CONTROL_MESSAGE_CASES(QUILLBRIDGE_CASE_NAME)};

    // One alternative per case, in case order, so that the variant's index is the case.
    using Payload = typename detail::VariantOfRest<void QUILLBRIDGE_STREAM_CONTROL_MESSAGE_CASES(
        QUILLBRIDGE_CASE_PAYLOAD)>::type;

    static_assert(caseCount == 49);
    static_assert(std::variant_size_v<Payload> == caseCount);
    static_assert(static_cast<std::size_t>(Case::clipboardTransferResult) + 1 == caseCount);

    template <Case C>
    using PayloadType = std::variant_alternative_t<static_cast<std::size_t>(C), Payload>;

    Payload payload;

    template <Case C>
    static StreamControlMessage make(PayloadType<C> value) {
        return StreamControlMessage{
            Payload(std::in_place_index<static_cast<std::size_t>(C)>, std::move(value))};
    }
    template <Case C>
    requires std::is_same_v<PayloadType<C>, NoPayload>
    static StreamControlMessage make() { return make<C>(NoPayload{}); }

    Case messageCase() const { return static_cast<Case>(payload.index()); }
    std::string_view caseName() const { return caseNames[payload.index()]; }
    static std::string_view name(Case messageCase) {
        return caseNames[static_cast<std::size_t>(messageCase)];
    }

    // The payload when the message is of case C, else null.
    template <Case C>
    const PayloadType<C>* get() const {
        return std::get_if<static_cast<std::size_t>(C)>(&payload);
    }

    // Same case and, for a payload case, equal payloads under the payload's own equality.
    bool operator==(const StreamControlMessage& other) const;
};

#undef QUILLBRIDGE_CASE_ENUMERATOR
#undef QUILLBRIDGE_CASE_NAME
#undef QUILLBRIDGE_CASE_PAYLOAD
#undef QUILLBRIDGE_CASE_COUNT

template <>
struct JsonCoder<StreamControlMessage> {
    static JsonResult<Json> encode(const StreamControlMessage& message);
    static JsonResult<StreamControlMessage> decode(const Json& json);
};

}  // namespace quillbridge
