#pragma once

#include <cstdint>
#include <memory>

#include <asio/awaitable.hpp>

#include "bridge/PersonaCameraReceiver.hpp"
#include "bridge/VisionMicrophoneReceiver.hpp"
#include "core/AsyncStream.hpp"
#include "core/Logger.hpp"
#include "core/Uuid.hpp"
#include "session/ClipboardTransfers.hpp"
#include "session/InboundMediaStreamSlots.hpp"
#include "session/QuicStream.hpp"
#include "session/ScreenStreamBroadcasterDependencies.hpp"
#include "session/SessionContext.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {

// The streams an authorised headset opens, routed by their kind byte: the Persona camera and the microphone,
// each read by its own loop into its receiver, one of each at a time in a session; clipboard pastes go to
// the clipboard transfers. It also owns what the host asked of the headset's camera and microphone (with
// the revisions of those asks), what the headset says it shares, and the two receivers' format and reset.
// Runs on the session's strand; every member is called there.
class InboundStreamRouter {
public:
    // Where the headset's sharing states are told; they outlive the router.
    struct SharingStateOutputs {
        AsyncStream<bool>& personaCamera;
        AsyncStream<bool>& microphone;
    };

    InboundStreamRouter(SessionContext& session, const ScreenStreamBroadcasterDependencies& dependencies,
                        ClipboardTransfers& clipboardTransfers, SharingStateOutputs outputs);

    // Reads a stream the authorised headset opened in session `sessionID` until it ends; never throws.
    asio::awaitable<void> route(std::shared_ptr<QuicStream> stream, Uuid sessionID);

    // What the host wants of the headset's Persona camera and microphone. A call whose revision is not above
    // the last one's is ignored; a change is told to an authorised headset, and turning one off resets its
    // receiver.
    asio::awaitable<void> setPersonaCameraRequested(bool isRequested, std::uint64_t revision);
    asio::awaitable<void> setMicrophoneRequested(bool isRequested, std::uint64_t revision);
    bool isPersonaCameraRequested() const { return isPersonaCameraRequested_; }
    bool isMicrophoneRequested() const { return isMicrophoneRequested_; }

    // Control messages about the camera and the microphone.
    void setPersonaCameraSharingEnabled(bool isEnabled);
    void setMicrophoneSharingEnabled(bool isEnabled);
    // Hands the camera's format to its receiver and acknowledges it; an invalid format is logged.
    asio::awaitable<void> updatePersonaCameraFormat(const PersonaCameraFormatDescriptionMessage& format);
    asio::awaitable<void> updateMicrophoneFormat(const MicrophoneFormatMessage& format);

    // Session end: sharing stops, the requests are forgotten and both receivers are reset (a receiver that
    // fails to reset does not stop the rest).
    asio::awaitable<void> endSession();

private:
    friend struct ScreenStreamBroadcasterTestAccess;

    asio::awaitable<void> receivePersonaCameraStream(std::shared_ptr<QuicStream> stream, Uuid sessionID);
    asio::awaitable<void> receiveMicrophoneStream(std::shared_ptr<QuicStream> stream, Uuid sessionID);

    SessionContext& session_;
    ClipboardTransfers& clipboardTransfers_;
    SharingStateOutputs outputs_;
    std::shared_ptr<PersonaCameraReceiver> personaCameraReceiver_;
    std::shared_ptr<VisionMicrophoneReceiver> microphoneReceiver_;
    Logger logger_{"ScreenStreamBroadcaster"};

    bool isPersonaCameraSharingEnabled_ = false;
    bool isPersonaCameraRequested_ = false;
    std::uint64_t latestPersonaCameraRequestRevision_ = 0;
    bool isMicrophoneSharingEnabled_ = false;
    bool isMicrophoneRequested_ = false;
    std::uint64_t latestMicrophoneRequestRevision_ = 0;
    // The one Persona camera stream and the one microphone stream a session reads at a time.
    InboundMediaStreamSlots inboundMediaStreamSlots_;
};

}  // namespace quillbridge
