#include <atomic>
#include <memory>
#include <optional>
#include <string_view>

#include <gtest/gtest.h>
#include <asio/experimental/awaitable_operators.hpp>

#include "platform/quic/QuicTestFixture.hpp"
#include "wire/ClipboardPayloadStreamCodec.hpp"

namespace quillbridge {
namespace {

using namespace asio::experimental::awaitable_operators;
using namespace std::string_view_literals;

// Reads through a QUIC stream and counts the bytes the reader took, so that the peer can end its direction
// only once the last byte was read: the end then travels alone, in a frame of its own.
class CountingReader final : public ByteStreamReader {
public:
    explicit CountingReader(std::shared_ptr<QuicStream> stream) : stream_(std::move(stream)) {}

    asio::awaitable<ReceivedBytes> receive(std::size_t count) override {
        auto received = co_await stream_->receive(count);
        taken += received.content.size();
        co_return received;
    }

    std::atomic<std::size_t> taken{0};

private:
    std::shared_ptr<QuicStream> stream_;
};

// Holds back the end of stream that the writer asks for; the test sends it later.
class EndHoldingWriter final : public ByteStreamWriter {
public:
    explicit EndHoldingWriter(std::shared_ptr<QuicStream> stream) : stream_(std::move(stream)) {}

    asio::awaitable<void> send(Bytes bytes, bool) override {
        co_await stream_->send(std::move(bytes), false);
    }

private:
    std::shared_ptr<QuicStream> stream_;
};

ClipboardTransferPayload payloadOf(std::size_t dataLength) {
    Bytes data(dataLength);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 13);
    }
    auto representation = *ClipboardRepresentation::make("public.data", std::move(data));
    return *ClipboardTransferPayload::make({*ClipboardItem::make({representation}, std::nullopt)});
}

// A paste whose sender ends its direction in an empty frame after the body, and a result byte whose end
// comes the same way: both are read as if the end had come with the last byte.
TEST_F(QuicTransportFixture, ClipboardReadersTakeAnEndOfStreamSentAloneAfterTheLastByte) {
    auto listener = listen(listenerParameters());
    auto [server, client] = run(acceptAndConnect(*listener, headset));
    for (std::size_t dataLength : {std::size_t{5}, std::size_t{600'000}}) {
        SCOPED_TRACE(dataLength);
        run([](std::shared_ptr<QuicConnection> server, std::shared_ptr<QuicConnection> client,
               std::size_t dataLength) -> asio::awaitable<void> {
            const auto payload = payloadOf(dataLength);
            const auto byteCount = payload.encodedByteCount();
            auto paste = co_await client->openStream(QuicStreamDirectionality::bidirectional);
            EndHoldingWriter writer(paste);
            co_await ClipboardPayloadStreamCodec::write(payload, writer);
            auto accepted = co_await server->acceptStream();
            CountingReader bodyReader(accepted);

            std::optional<ClipboardTransferPayload> read;
            auto reading = [](CountingReader& reader, std::uint64_t byteCount,
                              std::optional<ClipboardTransferPayload>& read) -> asio::awaitable<void> {
                read = co_await ClipboardPayloadStreamCodec::read(reader, byteCount);
            };
            auto endingAlone = [](CountingReader& reader, std::size_t length,
                                  std::shared_ptr<QuicStream> stream) -> asio::awaitable<void> {
                EXPECT_TRUE(co_await waitUntil([&] { return reader.taken == length; }));
                co_await stream->send({}, true);
            };
            co_await (reading(bodyReader, byteCount, read) && endingAlone(bodyReader, byteCount, paste));
            EXPECT_TRUE(read.has_value());
            if (!read) {
                co_return;
            }
            EXPECT_EQ(read->items(), payload.items());

            // The host answers with its result byte and ends its direction separately too.
            CountingReader resultReader(paste);
            std::optional<ClipboardTransferResultCode> result;
            auto receivingResult =
                [](CountingReader& reader,
                   std::optional<ClipboardTransferResultCode>& result) -> asio::awaitable<void> {
                result = co_await ClipboardPayloadStreamCodec::receiveTransferResult(reader);
            };
            co_await accepted->send(Bytes(1, 1), false);
            co_await (receivingResult(resultReader, result) && endingAlone(resultReader, 1, accepted));
            EXPECT_EQ(result, ClipboardTransferResultCode::succeeded);
        }(server, client, dataLength));
    }
}

}  // namespace
}  // namespace quillbridge
