#pragma once

#include <cstdint>
#include <optional>

#include <asio/awaitable.hpp>

#include "core/Bytes.hpp"
#include "wire/PersonaCameraFormatDescriptionMessage.hpp"
#include "wire/PersonaCameraReceiverReportMessage.hpp"

namespace quillbridge {

// Receives the headset's Persona camera frames and decodes them for the virtual camera. Runs on its own
// executor; the awaitables complete on the caller's.
class PersonaCameraReceiver {
public:
    virtual ~PersonaCameraReceiver() = default;

    // Installs the camera's video format. Returns the report to send back to the headset, or nothing when
    // there is nothing to report; throws when the format cannot be used.
    virtual asio::awaitable<std::optional<PersonaCameraReceiverReportMessage>> updateFormat(
        PersonaCameraFormatDescriptionMessage format) = 0;

    // One encoded camera frame from the headset's Persona stream, with the host time (monotonic nanoseconds)
    // at which it arrived. Frames before the format or before a key frame wait or are dropped by the
    // receiver.
    virtual asio::awaitable<void> receiveFrame(std::uint64_t frameID,
                                               std::uint64_t presentationTimeNanoseconds, bool isKeyFrame,
                                               Bytes payload, std::uint64_t hostReceiveTimeNanoseconds) = 0;

    // Forgets the format and the frames waiting for one, waits for a key frame again and drops the decoder.
    virtual asio::awaitable<void> reset() = 0;
};

}  // namespace quillbridge
