// Feeds arbitrary bytes to the clipboard payload stream readers: the 14-byte header, the body reader and
// the discarding reader, over a stream whose peer sent exactly the input. Whatever the body reader accepts
// must write back byte for byte the body it read.
//
// Input: one flag byte (bit 0: the peer ends its direction after the input; bit 1: discard instead of
// read; bit 2: take the body length from the header rather than from the input's size), the 14 header
// bytes, then the body.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <optional>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include "core/Bytes.hpp"
#include "wire/ClipboardLimits.hpp"
#include "wire/ClipboardPayloadStreamCodec.hpp"
#include "wire/ClipboardPayloadStreamHeader.hpp"

using namespace quillbridge;

namespace {

class FuzzStream : public ByteStreamReader, public ByteStreamWriter {
public:
    FuzzStream(ByteView incoming, bool peerEnds) : incoming_(incoming), peerEnds_(peerEnds) {}

    asio::awaitable<ReceivedBytes> receive(std::size_t count) override {
        if (count == 0 || count > ClipboardLimits::maximumSliceByteCount) {
            std::abort();  // the readers never ask for more than one slice or one field
        }
        std::size_t available = incoming_.size() - position_;
        if (available < count && !peerEnds_)
            throw std::runtime_error("would wait");
        std::size_t taken = std::min(count, available);
        ReceivedBytes received;
        received.content.assign(incoming_.begin() + static_cast<std::ptrdiff_t>(position_),
                                incoming_.begin() + static_cast<std::ptrdiff_t>(position_ + taken));
        position_ += taken;
        received.endOfStream = peerEnds_ && position_ == incoming_.size();
        co_return received;
    }

    asio::awaitable<void> send(Bytes bytes, bool endOfStream) override {
        if (ended_)
            std::abort();
        appendBytes(sent, bytes);
        ended_ = endOfStream;
        co_return;
    }

    std::size_t consumed() const { return position_; }
    bool ended() const { return ended_; }

    Bytes sent;

private:
    ByteView incoming_;
    bool peerEnds_;
    std::size_t position_ = 0;
    bool ended_ = false;
};

asio::awaitable<void> exercise(ByteView body, bool peerEnds, bool discard, std::uint64_t byteCount) {
    FuzzStream stream(body, peerEnds);
    if (discard) {
        try {
            co_await ClipboardPayloadStreamCodec::receiveBytes(byteCount, stream);
        } catch (const ClipboardPayloadStreamCodecException&) {
            co_return;
        } catch (const std::runtime_error&) {
            co_return;
        }
        if (stream.consumed() != byteCount || !peerEnds || stream.consumed() != body.size())
            std::abort();
        co_return;
    }

    std::optional<ClipboardTransferPayload> payload;
    try {
        payload.emplace(co_await ClipboardPayloadStreamCodec::read(stream, byteCount));
    } catch (const ClipboardPayloadStreamCodecException&) {
        co_return;
    } catch (const std::runtime_error&) {
        co_return;
    }
    if (stream.consumed() != byteCount || payload->encodedByteCount() != byteCount)
        std::abort();

    FuzzStream writer({}, true);
    co_await ClipboardPayloadStreamCodec::write(*payload, writer);
    if (!writer.ended() ||
        !std::equal(writer.sent.begin(), writer.sent.end(), body.begin(), body.begin() + byteCount) ||
        writer.sent.size() != byteCount) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 + ClipboardPayloadStreamHeader::encodedByteCount)
        return 0;
    ByteView input(data, size);
    std::uint8_t flags = input[0];
    auto headerBytes = input.subspan(1, ClipboardPayloadStreamHeader::encodedByteCount);
    auto body = input.subspan(1 + ClipboardPayloadStreamHeader::encodedByteCount);

    auto header = ClipboardPayloadStreamHeader::decode(headerBytes);
    if (header) {
        auto written = header->encodedData();
        if (!std::equal(written.begin(), written.end(), headerBytes.begin(), headerBytes.end()))
            std::abort();
    }

    std::uint64_t byteCount = body.size();
    if (flags & 4) {
        if (!header)
            return 0;
        byteCount = header->payloadByteCount;
    }

    static asio::io_context context;
    context.restart();
    std::exception_ptr failure;
    asio::co_spawn(context, exercise(body, flags & 1, flags & 2, byteCount),
                   [&](std::exception_ptr error) { failure = error; });
    context.run();
    if (failure)
        std::abort();  // nothing but the codec's own refusal may escape
    return 0;
}
