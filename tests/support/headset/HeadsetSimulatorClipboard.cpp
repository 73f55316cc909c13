#include "support/headset/HeadsetSimulator.hpp"

#include "support/headset/HeadsetSimulatorSupport.hpp"

// Clipboard: copies from the host and pastes onto it.

namespace quillbridge {

using namespace headset_simulator_detail;

// Clipboard.

asio::awaitable<HeadsetSimulator::ClipboardCopyResult> HeadsetSimulator::copyFromHost(
    std::uint64_t transferID) {
    {
        auto message = StreamControlMessage::make<Case::clipboardTransferRequest>(
            ClipboardTransferRequestMessage{transferID, ClipboardTransferOperation::copyFromMac});
        co_await send(std::move(message));
    }
    std::optional<HostClipboardStream> opened;
    std::optional<ClipboardTransferResultCode> refusal;
    std::function<bool()> arrived = [&] {
        for (auto stream = hostClipboardStreams_.begin(); stream != hostClipboardStreams_.end(); ++stream) {
            if (stream->header.transferID == transferID) {
                opened = std::move(*stream);
                hostClipboardStreams_.erase(stream);
                return true;
            }
        }
        for (auto message = inbox_.begin(); message != inbox_.end(); ++message) {
            const auto* result = message->get<Case::clipboardTransferResult>();
            if (result && result->transferID == transferID) {
                refusal = result->result;
                inbox_.erase(message);
                return true;
            }
        }
        return controlEnded_;
    };
    std::string what = "the host's clipboard copy " + std::to_string(transferID);
    co_await waitUntil(std::move(arrived), std::move(what));
    if (refusal) {
        co_return ClipboardCopyResult{*refusal, std::nullopt};
    }
    if (!opened) {
        throw HeadsetSimulatorError("the control stream ended (" + controlEndReason_ +
                                    ") during a clipboard copy");
    }
    std::optional<ClipboardTransferPayload> payload;
    std::exception_ptr failure;
    try {
        payload =
            co_await ClipboardPayloadStreamCodec::read(*opened->stream, opened->header.payloadByteCount);
    } catch (...) {
        failure = std::current_exception();
    }
    co_await ClipboardPayloadStreamCodec::sendTransferResult(
        failure ? ClipboardTransferResultCode::failed : ClipboardTransferResultCode::succeeded,
        *opened->stream);
    if (failure) {
        std::rethrow_exception(failure);
    }
    co_return ClipboardCopyResult{ClipboardTransferResultCode::succeeded, std::move(payload)};
}

bool HeadsetSimulator::hasHostClipboardStream(std::uint64_t transferID) const {
    return std::any_of(
        hostClipboardStreams_.begin(), hostClipboardStreams_.end(),
        [&](const HostClipboardStream& stream) { return stream.header.transferID == transferID; });
}

asio::awaitable<ClipboardTransferResultCode> HeadsetSimulator::pasteToHost(
    const ClipboardTransferPayload& payload, std::uint64_t transferID) {
    requireConnection();
    auto connection = connection_;
    auto stream = co_await connection->openStream(QuicStreamDirectionality::bidirectional);
    stream->setApplicationErrorCode(clipboardStreamApplicationErrorCode);
    ClipboardPayloadStreamHeader header;
    header.operation = ClipboardTransferOperation::pasteToMac;
    header.transferID = transferID;
    header.payloadByteCount = static_cast<std::uint32_t>(payload.encodedByteCount());
    Bytes opening = header.encodedData();
    opening.insert(opening.begin(), wireByte(InboundStreamKind::clipboardPaste));
    co_await stream->send(std::move(opening), false);
    co_await ClipboardPayloadStreamCodec::write(payload, *stream);
    co_return co_await ClipboardPayloadStreamCodec::receiveTransferResult(*stream);
}

}  // namespace quillbridge
