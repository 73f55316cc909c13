#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include <asio/any_io_executor.hpp>

#include "bridge/PersonaAVTimingCoordinator.hpp"
#include "bridge/PersonaCameraFormatDescription.hpp"
#include "bridge/PersonaCameraFrameDecoder.hpp"
#include "bridge/PersonaCameraReceiver.hpp"
#include "bridge/PersonaCameraSampleBuffer.hpp"
#include "core/Actor.hpp"
#include "wire/EncodedVideoFrame.hpp"

namespace quillbridge {

// The host's Persona camera receiver: builds the video format from the headset's format message, keeps the
// frames that come before any format (at most `maximumBytesAwaitingFormat` of them, dropping the oldest),
// drops delta frames until a key frame, stamps each frame with the host time at which it is to be shown
// (asked of the media clock, which every such frame feeds, dropped or not) and hands it to the decoder,
// whose pictures leave through the decoder's output handler on the decoder's thread.
//
// An actor: its state lives on its own strand; the awaitables complete on the caller's executor. A format
// message that cannot be used throws `PersonaCameraReceiveError` and changes nothing.
class DecodingPersonaCameraReceiver final : public PersonaCameraReceiver {
public:
    // Frames held while no format is known, counted by their payload bytes.
    static constexpr std::size_t maximumBytesAwaitingFormat = 32 * 1024 * 1024;

    DecodingPersonaCameraReceiver(const asio::any_io_executor& executor,
                                  std::shared_ptr<PersonaAVTimingCoordinator> timingCoordinator,
                                  std::unique_ptr<PersonaCameraFrameDecoder> decoder);
    ~DecodingPersonaCameraReceiver() override;

    asio::awaitable<std::optional<PersonaCameraReceiverReportMessage>> updateFormat(
        PersonaCameraFormatDescriptionMessage format) override;
    asio::awaitable<void> receiveFrame(std::uint64_t frameID, std::uint64_t presentationTimeNanoseconds,
                                       bool isKeyFrame, Bytes payload,
                                       std::uint64_t hostReceiveTimeNanoseconds) override;
    asio::awaitable<void> reset() override;

private:
    struct PendingFrame {
        EncodedVideoFrame frame;
        std::uint64_t receivedAtHostTimeNanoseconds = 0;
    };

    // Each runs on the actor.
    std::optional<std::uint64_t> installFormat(PersonaCameraFormatDescription formatDescription);
    void receive(PendingFrame pending);
    void decodeFrame(EncodedVideoFrame frame, std::uint64_t receivedAtHostTimeNanoseconds);
    std::optional<PersonaCameraSampleBuffer> makeSampleBuffer(
        const EncodedVideoFrame& frame, std::int64_t presentationHostTimeNanoseconds) const;
    void resetOnActor();

    Actor actor_;
    std::shared_ptr<PersonaAVTimingCoordinator> timingCoordinator_;
    std::unique_ptr<PersonaCameraFrameDecoder> decoder_;
    std::shared_ptr<const PersonaCameraFormatDescription> formatDescription_;
    bool waitingForKeyFrame_ = true;
    std::deque<PendingFrame> framesAwaitingFormat_;
    std::size_t bytesAwaitingFormat_ = 0;
};

}  // namespace quillbridge
