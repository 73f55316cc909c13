#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "session/QuicError.hpp"
#include "session/ScreenStreamBroadcasterStreamsFixture.hpp"

namespace quillbridge {
namespace {

using Operation = ClipboardTransferOperation;
using Result = ClipboardTransferResultCode;

ClipboardTransferPayload textPayload(std::string text) {
    auto representation =
        ClipboardRepresentation::make("public.utf8-plain-text", Bytes(text.begin(), text.end()));
    auto item = ClipboardItem::make({*representation}, std::nullopt);
    return *ClipboardTransferPayload::make({*item});
}

Bytes pasteHeader(std::uint64_t transferID, std::uint32_t payloadByteCount, std::uint8_t version = 9,
                  Operation operation = Operation::pasteToMac) {
    ClipboardPayloadStreamHeader header;
    header.protocolVersion = version;
    header.operation = operation;
    header.transferID = transferID;
    header.payloadByteCount = payloadByteCount;
    Bytes bytes = header.encodedData();
    bytes.insert(bytes.begin(), 5);
    return bytes;
}

asio::awaitable<std::optional<ClipboardTransferPayload>> readPayload(std::shared_ptr<QuicStream> stream,
                                                                     std::uint64_t byteCount) {
    co_return co_await ClipboardPayloadStreamCodec::read(*stream, byteCount);
}

class ClipboardTest : public ScreenStreamBroadcasterStreamsFixture {
protected:
    // The headset pastes `payload` as transfer `transferID` and reads the host's result byte.
    std::optional<Result> paste(Headset& headset, std::uint64_t transferID,
                                const ClipboardTransferPayload& payload) {
        auto stream = openStream(headset, pasteHeader(transferID, payload.encodedByteCount()));
        run(ClipboardPayloadStreamCodec::write(payload, *stream));
        return result(*stream);
    }

    std::optional<Result> result(QuicStream& stream) {
        try {
            return run(ClipboardPayloadStreamCodec::receiveTransferResult(stream));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    std::vector<ClipboardTransferResultMessage> results(Headset& headset) {
        return only<Case::clipboardTransferResult>(messages(headset));
    }

    void request(Headset& headset, std::uint64_t transferID, Operation operation = Operation::copyFromMac) {
        send(headset, StreamControlMessage::make<Case::clipboardTransferRequest>({transferID, operation}));
    }
    void cancel(Headset& headset, std::uint64_t transferID, Operation operation) {
        send(headset, StreamControlMessage::make<Case::clipboardTransferCancel>({transferID, operation}));
    }

    // The host's copy stream as the headset reads it: kind byte, header and body.
    struct ReceivedCopy {
        std::shared_ptr<QuicStream> stream;
        Bytes kind;
        std::optional<ClipboardPayloadStreamHeader> header;
        std::optional<ClipboardTransferPayload> payload;
    };
    ReceivedCopy receiveCopy(Headset& headset) {
        ReceivedCopy copy;
        copy.stream = run(headset.connection->acceptStream());
        if (!copy.stream) {
            return copy;
        }
        copy.kind = run(copy.stream->receiveExactly(1)).data;
        copy.header = ClipboardPayloadStreamHeader::decode(
            run(copy.stream->receiveExactly(ClipboardPayloadStreamHeader::encodedByteCount)).data);
        if (copy.header) {
            copy.payload = run(readPayload(copy.stream, copy.header->payloadByteCount));
        }
        return copy;
    }

    // How many streams the host opened towards the headset that were not accepted yet.
    int transfersOpenedByHost(Headset& headset) {
        int count = 0;
        for (;;) {
            bool done = false;
            asio::cancellation_signal signal;
            asio::co_spawn(
                context, headset.connection->acceptStream(),
                asio::bind_cancellation_slot(
                    signal.slot(), [&](std::exception_ptr, std::shared_ptr<QuicStream>) { done = true; }));
            drain();
            if (!done) {
                signal.emit(asio::cancellation_type::all);
                drain();
                return count;
            }
            ++count;
        }
    }

    void holdCapture() {
        clipboard.captureGate = std::make_shared<AsyncChannel<bool>>(AsyncChannel<bool>::unbounded);
    }
    void releaseCapture() {
        clipboard.captureGate->trySend(true);
        drain();
    }
};

TEST_F(ClipboardTest, PasteIsAppliedThenThePasteChordIsPressedAndSucceeds) {
    auto headset = authorizedHeadset();
    EXPECT_EQ(paste(headset, 7, textPayload("hello")), Result::succeeded);
    ASSERT_EQ(clipboard.applied.size(), 1u);
    EXPECT_EQ(clipboard.applied[0].items()[0].representations()[0].data(), Bytes({'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(keyboard.pasteChordCount, 1);
    EXPECT_TRUE(results(headset).empty());

    // A refused clipboard write fails without the chord; the next transfer is free to start.
    clipboard.applySucceeds = false;
    EXPECT_EQ(paste(headset, 8, textPayload("again")), Result::failed);
    EXPECT_EQ(keyboard.pasteChordCount, 1);
    EXPECT_EQ(paste(headset, 9, textPayload("x")), Result::failed);
}

TEST_F(ClipboardTest, PasteCancelledBeforeItsStreamIsDiscardedAndAnsweredCancelled) {
    auto headset = authorizedHeadset();
    cancel(headset, 7, Operation::pasteToMac);
    const auto sent = results(headset);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].result, Result::cancelled);
    EXPECT_EQ(sent[0].operation, Operation::pasteToMac);
    EXPECT_EQ(paste(headset, 7, textPayload("late")), Result::cancelled);
    EXPECT_TRUE(clipboard.applied.empty());
    EXPECT_EQ(keyboard.pasteChordCount, 0);
}

TEST_F(ClipboardTest, OnlyTheSixtyFourHighestCancelledPastesAreRemembered) {
    auto headset = authorizedHeadset();
    cancel(headset, 0, Operation::pasteToMac);
    for (std::uint64_t id = 1; id <= 65; ++id) {
        cancel(headset, id, Operation::pasteToMac);
    }
    EXPECT_EQ(results(headset).size(), 66u);
    EXPECT_EQ(paste(headset, 2, textPayload("b")), Result::cancelled);
    EXPECT_EQ(paste(headset, 1, textPayload("a")), Result::succeeded);
}

TEST_F(ClipboardTest, BrokenPasteStreamsFailAndTheSessionStays) {
    struct Example {
        std::string name;
        Bytes header;
    };
    const auto payload = textPayload("text");
    const std::uint32_t size = static_cast<std::uint32_t>(payload.encodedByteCount());
    const std::vector<Example> examples{
        {"version 8", pasteHeader(3, size, 8)},
        {"copy operation", pasteHeader(3, size, 9, Operation::copyFromMac)},
        {"transfer 0", pasteHeader(0, size)},
        {"body over the limit", pasteHeader(3, 67'166'690)},
    };
    auto headset = authorizedHeadset();
    for (const auto& example : examples) {
        SCOPED_TRACE(example.name);
        ScopedLogCapture logs;
        auto stream = openStream(headset, example.header);
        EXPECT_EQ(result(*stream), Result::failed);
        EXPECT_TRUE(contains(logs.messages("ScreenStreamBroadcaster"),
                             "Clipboard paste stream failed without ending the session: "));
        // The body is not read: the headset is told to stop sending it.
        EXPECT_TRUE(sendingWasStopped(*stream));
    }
    EXPECT_FALSE(isClosed(headset));
    EXPECT_EQ(paste(headset, 4, payload), Result::succeeded);
}

TEST_F(ClipboardTest, UnidirectionalPasteStreamIsRefusedWithoutAnAnswer) {
    auto headset = authorizedHeadset();
    ScopedLogCapture logs;
    auto stream = openStream(headset, pasteHeader(3, 4), false, QuicStreamDirectionality::unidirectional);
    EXPECT_TRUE(contains(logs.messages("ScreenStreamBroadcaster"),
                         "Rejected non-bidirectional clipboard paste stream"));
    EXPECT_TRUE(sendingWasStopped(*stream));
    EXPECT_TRUE(clipboard.applied.empty());
}

TEST_F(ClipboardTest, CopySendsKindHeaderAndBodyAndASucceededAnswerNeedsNoMessage) {
    clipboard.captureResult = RemoteClipboardCaptureResult::captured(textPayload("from host"));
    auto headset = authorizedHeadset();
    request(headset, 11);
    auto copy = receiveCopy(headset);
    ASSERT_TRUE(copy.stream);
    EXPECT_EQ(copy.kind, Bytes{5});
    ASSERT_TRUE(copy.header);
    EXPECT_EQ(copy.header->operation, Operation::copyFromMac);
    EXPECT_EQ(copy.header->transferID, 11u);
    EXPECT_EQ(copy.header->payloadByteCount, textPayload("from host").encodedByteCount());
    ASSERT_TRUE(copy.payload);
    EXPECT_EQ(copy.payload->items()[0].representations()[0].data().size(), 9u);
    run(ClipboardPayloadStreamCodec::sendTransferResult(Result::succeeded, *copy.stream));
    drain();
    EXPECT_TRUE(results(headset).empty());
    // The transfer is over: a new request is served.
    request(headset, 12);
    EXPECT_TRUE(receiveCopy(headset).payload);
}

TEST_F(ClipboardTest, CopyAnsweredWithAnythingButSuccessFails) {
    clipboard.captureResult = RemoteClipboardCaptureResult::captured(textPayload("x"));
    auto headset = authorizedHeadset();
    for (const auto answer : {Result::failed, Result::cancelled, Result::tooLarge}) {
        ScopedLogCapture logs;
        request(headset, 20);
        auto copy = receiveCopy(headset);
        ASSERT_TRUE(copy.stream);
        run(ClipboardPayloadStreamCodec::sendTransferResult(answer, *copy.stream));
        drain();
        const auto sent = results(headset);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].transferID, 20u);
        EXPECT_EQ(sent[0].result, Result::failed);
        EXPECT_TRUE(contains(logs.messages("ScreenStreamBroadcaster"), "Clipboard copy transfer failed: "));
    }
}

TEST_F(ClipboardTest, CaptureRefusalsAreAnsweredWithTheirOwnResultAndOpenNoStream) {
    auto headset = authorizedHeadset();
    using Kind = RemoteClipboardCaptureResult::Kind;
    std::uint64_t id = 30;
    for (const auto& [kind, expected] :
         {std::pair{Kind::unavailable, Result::unavailable}, std::pair{Kind::tooLarge, Result::tooLarge},
          std::pair{Kind::unsupported, Result::unsupported}}) {
        clipboard.captureResult = RemoteClipboardCaptureResult::refused(kind);
        request(headset, ++id);
        const auto sent = results(headset);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].transferID, id);
        EXPECT_EQ(sent[0].operation, Operation::copyFromMac);
        EXPECT_EQ(sent[0].result, expected);
    }
    EXPECT_EQ(transfersOpenedByHost(headset), 0);
}

TEST_F(ClipboardTest, RequestsThatCannotStartFailAtOnce) {
    auto headset = authorizedHeadset();
    holdCapture();
    request(headset, 40);  // active, held in its capture
    struct Example {
        std::uint64_t transferID;
        Operation operation;
    };
    for (const auto& example : {Example{0, Operation::copyFromMac}, Example{41, Operation::pasteToMac},
                                Example{42, Operation::copyFromMac}}) {
        request(headset, example.transferID, example.operation);
        const auto sent = results(headset);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].transferID, example.transferID);
        EXPECT_EQ(sent[0].operation, example.operation);
        EXPECT_EQ(sent[0].result, Result::failed);
    }
    EXPECT_EQ(clipboard.captureCount, 1);
}

TEST_F(ClipboardTest, PasteDuringACopyFailsAndTheCopyGoesOn) {
    clipboard.captureResult = RemoteClipboardCaptureResult::captured(textPayload("copy"));
    auto headset = authorizedHeadset();
    holdCapture();
    request(headset, 50);
    auto stream = openStream(headset, pasteHeader(51, textPayload("p").encodedByteCount()));
    EXPECT_EQ(result(*stream), Result::failed);
    EXPECT_TRUE(clipboard.applied.empty());
    releaseCapture();
    auto copy = receiveCopy(headset);
    ASSERT_TRUE(copy.payload);
    EXPECT_EQ(copy.header->transferID, 50u);
    run(ClipboardPayloadStreamCodec::sendTransferResult(Result::succeeded, *copy.stream));
    drain();
    EXPECT_TRUE(results(headset).empty());
}

TEST_F(ClipboardTest, CancelDuringCaptureYieldsExactlyOneCancelled) {
    clipboard.captureResult =
        RemoteClipboardCaptureResult::refused(RemoteClipboardCaptureResult::Kind::tooLarge);
    auto headset = authorizedHeadset();
    holdCapture();
    request(headset, 60);
    cancel(headset, 60, Operation::copyFromMac);
    releaseCapture();
    const auto sent = results(headset);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].transferID, 60u);
    EXPECT_EQ(sent[0].result, Result::cancelled);
    // The transfer is free again.
    clipboard.captureGate.reset();
    request(headset, 61);
    EXPECT_EQ(results(headset).size(), 1u);
}

TEST_F(ClipboardTest, CancelOfAnOpenCopyStopsItsStreamWithTheClipboardCodeAndAnswersCancelledLast) {
    clipboard.captureResult = RemoteClipboardCaptureResult::captured(textPayload("copy"));
    auto headset = authorizedHeadset();
    request(headset, 70);
    auto copy = receiveCopy(headset);
    ASSERT_TRUE(copy.payload);
    ScopedLogCapture logs;
    cancel(headset, 70, Operation::copyFromMac);
    try {
        run(ClipboardPayloadStreamCodec::sendTransferResult(Result::succeeded, *copy.stream));
        ADD_FAILURE() << "the host still read the copy stream";
    } catch (const QuicStreamAbortedError& error) {
        EXPECT_EQ(error.applicationErrorCode(), clipboardStreamApplicationErrorCode);
    }
    const auto sent = results(headset);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].result, Result::cancelled);
    EXPECT_FALSE(contains(logs.messages("ScreenStreamBroadcaster"), "Clipboard copy transfer failed"));
    // A cancel of a transfer that is not the active copy is answered at once.
    cancel(headset, 71, Operation::copyFromMac);
    EXPECT_EQ(results(headset).size(), 1u);
}

TEST_F(ClipboardTest, SessionEndDuringACopySendsNoResult) {
    auto headset = authorizedHeadset();
    holdCapture();
    request(headset, 80);
    run(broadcaster->endSession(nullptr, State::idle(), true, false));
    releaseCapture();
    EXPECT_TRUE(results(headset).empty());
}

}  // namespace
}  // namespace quillbridge
