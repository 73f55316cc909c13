#include "bridge/DecodingPersonaCameraReceiver.hpp"

#include <utility>

#include "bridge/LengthPrefixedNalUnits.hpp"
#include "bridge/PersonaCameraReceiveError.hpp"

namespace quillbridge {

DecodingPersonaCameraReceiver::DecodingPersonaCameraReceiver(
    const asio::any_io_executor& executor, std::shared_ptr<PersonaAVTimingCoordinator> timingCoordinator,
    std::unique_ptr<PersonaCameraFrameDecoder> decoder)
    : actor_(executor), timingCoordinator_(std::move(timingCoordinator)), decoder_(std::move(decoder)) {}

DecodingPersonaCameraReceiver::~DecodingPersonaCameraReceiver() = default;

asio::awaitable<std::optional<PersonaCameraReceiverReportMessage>>
DecodingPersonaCameraReceiver::updateFormat(PersonaCameraFormatDescriptionMessage format) {
    auto lastFrameID =
        co_await actor_.call([this, format = std::move(format)]() -> std::optional<std::uint64_t> {
            auto description = PersonaCameraFormatDescription::make(format);
            if (!description) {
                throw PersonaCameraReceiveError::invalidFormatDescription(description.error());
            }
            return installFormat(std::move(*description));
        });
    if (!lastFrameID) {
        co_return std::nullopt;
    }
    co_return PersonaCameraReceiverReportMessage{*lastFrameID};
}

asio::awaitable<void> DecodingPersonaCameraReceiver::receiveFrame(std::uint64_t frameID,
                                                                  std::uint64_t presentationTimeNanoseconds,
                                                                  bool isKeyFrame, Bytes payload,
                                                                  std::uint64_t hostReceiveTimeNanoseconds) {
    PendingFrame pending{
        EncodedVideoFrame{frameID, presentationTimeNanoseconds, isKeyFrame, std::move(payload)},
        hostReceiveTimeNanoseconds};
    co_await actor_.call([this, pending = std::move(pending)]() mutable { receive(std::move(pending)); });
}

asio::awaitable<void> DecodingPersonaCameraReceiver::reset() {
    co_await actor_.call([this] { resetOnActor(); });
}

std::optional<std::uint64_t> DecodingPersonaCameraReceiver::installFormat(
    PersonaCameraFormatDescription formatDescription) {
    formatDescription_ = std::make_shared<const PersonaCameraFormatDescription>(std::move(formatDescription));
    waitingForKeyFrame_ = true;
    decoder_->invalidate();

    auto waiting = std::exchange(framesAwaitingFormat_, {});
    bytesAwaitingFormat_ = 0;
    std::optional<std::uint64_t> lastFrameID;
    for (auto& pending : waiting) {
        lastFrameID = pending.frame.frameID;
        decodeFrame(std::move(pending.frame), pending.receivedAtHostTimeNanoseconds);
    }
    return lastFrameID;
}

void DecodingPersonaCameraReceiver::receive(PendingFrame pending) {
    if (!formatDescription_) {
        // A headset that never sends its format must not make the host hold its frames without end.
        bytesAwaitingFormat_ += pending.frame.payload.size();
        framesAwaitingFormat_.push_back(std::move(pending));
        while (bytesAwaitingFormat_ > maximumBytesAwaitingFormat && framesAwaitingFormat_.size() > 1) {
            bytesAwaitingFormat_ -= framesAwaitingFormat_.front().frame.payload.size();
            framesAwaitingFormat_.pop_front();
        }
        return;
    }
    decodeFrame(std::move(pending.frame), pending.receivedAtHostTimeNanoseconds);
}

void DecodingPersonaCameraReceiver::decodeFrame(EncodedVideoFrame frame,
                                                std::uint64_t receivedAtHostTimeNanoseconds) {
    // Every frame feeds the clock's estimates, also those dropped below.
    const std::int64_t presentationHostTime = timingCoordinator_->videoPresentationHostTime(
        frame.presentationTimeNanoseconds, receivedAtHostTimeNanoseconds);
    if (!frame.isKeyFrame && waitingForKeyFrame_) {
        return;
    }
    auto sample = makeSampleBuffer(frame, presentationHostTime);
    if (!sample) {
        return;
    }
    if (frame.isKeyFrame) {
        waitingForKeyFrame_ = false;
    }
    if (!sample->formatDescription) {
        return;
    }
    if (decoder_->prepare(sample->formatDescription)) {
        decoder_->decode(std::move(*sample));
    }
}

std::optional<PersonaCameraSampleBuffer> DecodingPersonaCameraReceiver::makeSampleBuffer(
    const EncodedVideoFrame& frame, std::int64_t presentationHostTimeNanoseconds) const {
    if (!formatDescription_) {
        return std::nullopt;
    }
    // A payload whose lengths do not add up (or that is empty) cannot be wrapped.
    auto annexB = LengthPrefixedNalUnits::toAnnexB(frame.payload, formatDescription_->nalUnitHeaderLength);
    if (!annexB) {
        return std::nullopt;
    }
    PersonaCameraSampleBuffer sample;
    sample.annexBPayload = std::move(*annexB);
    sample.presentationTimeNanoseconds = presentationHostTimeNanoseconds;
    sample.displaysImmediately = true;
    sample.isNotSync = !frame.isKeyFrame;
    sample.formatDescription = formatDescription_;
    return sample;
}

void DecodingPersonaCameraReceiver::resetOnActor() {
    formatDescription_.reset();
    waitingForKeyFrame_ = true;
    framesAwaitingFormat_.clear();
    bytesAwaitingFormat_ = 0;
    decoder_->invalidate();
}

}  // namespace quillbridge
