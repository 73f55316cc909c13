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

// One message of the control stream: one of 49 cases, each carrying at most one payload. Its JSON form
// is {"case":{"_0":payload}}, or {"case":{}} for the four cases without a payload.
struct StreamControlMessage {
    // The cases in their declared order; a case's name is its JSON key.
    enum class Case : std::uint8_t {
        hello,
        authenticate,
        authenticationResponse,
        authenticationResult,
        pairingStart,
        pairingChallenge,
        pairingClientChallenge,
        pairingServerChallenge,
        pairingClientResponse,
        pairingServerConfirmation,
        pairingClientConfirmation,
        pairingRoundRejected,
        pairingAccepted,
        pairingRejected,
        videoFormat,
        displayGeometry,
        streamConfiguration,
        requestKeyFrame,
        certificateRotation,
        receiverReport,
        clockSynchronizationRequest,
        clockSynchronizationResponse,
        clockSynchronizationResult,
        audioFormat,
        personaCameraSharingState,
        personaCameraRequest,
        personaCameraFormat,
        personaCameraReceiverReport,
        microphoneSharingState,
        microphoneRequest,
        microphoneFormat,
        microphoneReceiverReport,
        receiverReady,
        heartbeat,
        sessionDisconnectRequest,
        sessionDisconnectAcknowledged,
        mouseClick,
        mouseMove,
        mouseScroll,
        mousePosition,
        keyboardEvent,
        keyboardTypePreference,
        keyboardLayout,
        keyboardLockState,
        textInput,
        systemAction,
        clipboardTransferRequest,
        clipboardTransferCancel,
        clipboardTransferResult
    };
    static constexpr std::size_t caseCount = 49;
    static constexpr std::array<std::string_view, caseCount> caseNames{"hello",
                                                                       "authenticate",
                                                                       "authenticationResponse",
                                                                       "authenticationResult",
                                                                       "pairingStart",
                                                                       "pairingChallenge",
                                                                       "pairingClientChallenge",
                                                                       "pairingServerChallenge",
                                                                       "pairingClientResponse",
                                                                       "pairingServerConfirmation",
                                                                       "pairingClientConfirmation",
                                                                       "pairingRoundRejected",
                                                                       "pairingAccepted",
                                                                       "pairingRejected",
                                                                       "videoFormat",
                                                                       "displayGeometry",
                                                                       "streamConfiguration",
                                                                       "requestKeyFrame",
                                                                       "certificateRotation",
                                                                       "receiverReport",
                                                                       "clockSynchronizationRequest",
                                                                       "clockSynchronizationResponse",
                                                                       "clockSynchronizationResult",
                                                                       "audioFormat",
                                                                       "personaCameraSharingState",
                                                                       "personaCameraRequest",
                                                                       "personaCameraFormat",
                                                                       "personaCameraReceiverReport",
                                                                       "microphoneSharingState",
                                                                       "microphoneRequest",
                                                                       "microphoneFormat",
                                                                       "microphoneReceiverReport",
                                                                       "receiverReady",
                                                                       "heartbeat",
                                                                       "sessionDisconnectRequest",
                                                                       "sessionDisconnectAcknowledged",
                                                                       "mouseClick",
                                                                       "mouseMove",
                                                                       "mouseScroll",
                                                                       "mousePosition",
                                                                       "keyboardEvent",
                                                                       "keyboardTypePreference",
                                                                       "keyboardLayout",
                                                                       "keyboardLockState",
                                                                       "textInput",
                                                                       "systemAction",
                                                                       "clipboardTransferRequest",
                                                                       "clipboardTransferCancel",
                                                                       "clipboardTransferResult"};

    // The payload of the four cases that carry none.
    struct NoPayload {
        bool operator==(const NoPayload&) const = default;
    };

    // One alternative per case, in case order, so that the variant's index is the case.
    using Payload = std::variant<
        SessionHelloMessage /* hello */, AuthenticationChallengeMessage /* authenticate */,
        AuthenticationResponseMessage /* authenticationResponse */,
        AuthenticationResultMessage /* authenticationResult */, PairingStartMessage /* pairingStart */,
        PairingChallengeMessage /* pairingChallenge */,
        PairingClientChallengeMessage /* pairingClientChallenge */,
        PairingServerChallengeMessage /* pairingServerChallenge */,
        PairingClientResponseMessage /* pairingClientResponse */,
        PairingServerConfirmationMessage /* pairingServerConfirmation */,
        PairingClientConfirmationMessage /* pairingClientConfirmation */,
        PairingRoundRejectedMessage /* pairingRoundRejected */, PairingAcceptedMessage /* pairingAccepted */,
        PairingFailureReason /* pairingRejected */, VideoFormatDescriptionMessage /* videoFormat */,
        DisplayGeometryMessage /* displayGeometry */, StreamConfigurationMessage /* streamConfiguration */,
        KeyFrameRequestMessage /* requestKeyFrame */, CertificateRotationMessage /* certificateRotation */,
        StreamReceiverReportMessage /* receiverReport */,
        ClockSynchronizationRequestMessage /* clockSynchronizationRequest */,
        ClockSynchronizationResponseMessage /* clockSynchronizationResponse */,
        ClockSynchronizationResultMessage /* clockSynchronizationResult */,
        AudioStreamFormatAnnouncementMessage /* audioFormat */,
        PersonaCameraSharingStateMessage /* personaCameraSharingState */,
        PersonaCameraRequestMessage /* personaCameraRequest */,
        PersonaCameraFormatDescriptionMessage /* personaCameraFormat */,
        PersonaCameraReceiverReportMessage /* personaCameraReceiverReport */,
        MicrophoneSharingStateMessage /* microphoneSharingState */,
        MicrophoneRequestMessage /* microphoneRequest */, MicrophoneFormatMessage /* microphoneFormat */,
        MicrophoneReceiverReportMessage /* microphoneReceiverReport */, NoPayload /* receiverReady */,
        NoPayload /* heartbeat */, NoPayload /* sessionDisconnectRequest */,
        NoPayload /* sessionDisconnectAcknowledged */, MouseClickMessage /* mouseClick */,
        MouseMoveMessage /* mouseMove */, MouseScrollMessage /* mouseScroll */,
        MousePositionMessage /* mousePosition */, KeyboardEventMessage /* keyboardEvent */,
        KeyboardTypePreferenceMessage /* keyboardTypePreference */,
        KeyboardLayoutSnapshot /* keyboardLayout */, KeyboardLockStateMessage /* keyboardLockState */,
        TextInputMessage /* textInput */, SystemActionMessage /* systemAction */,
        ClipboardTransferRequestMessage /* clipboardTransferRequest */,
        ClipboardTransferCancelMessage /* clipboardTransferCancel */,
        ClipboardTransferResultMessage /* clipboardTransferResult */>;

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

template <>
struct JsonCoder<StreamControlMessage> {
    static JsonResult<Json> encode(const StreamControlMessage& message);
    static JsonResult<StreamControlMessage> decode(const Json& json);
};

}  // namespace quillbridge
