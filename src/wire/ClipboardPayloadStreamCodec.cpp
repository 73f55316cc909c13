#include "wire/ClipboardPayloadStreamCodec.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <asio/cancellation_state.hpp>
#include <asio/error.hpp>
#include <asio/system_error.hpp>
#include <asio/this_coro.hpp>

#include "core/BigEndian.hpp"
#include "core/UnicodeText.hpp"
#include "wire/ClipboardLimits.hpp"

namespace quillbridge {
namespace {

[[noreturn]] void throwInvalidPayload() {
    throw ClipboardPayloadStreamCodecException(ClipboardPayloadStreamCodecError::invalidPayload);
}

void throwIfCancelled(const asio::cancellation_state& cancellation) {
    if (cancellation.cancelled() != asio::cancellation_type::none) {
        throw asio::system_error(asio::error::operation_aborted);
    }
}

// Receives exactly `byteCount` bytes that must not end the stream.
asio::awaitable<Bytes> receiveField(ByteStreamReader& stream, std::size_t byteCount) {
    auto received = co_await stream.receive(byteCount);
    if (received.content.size() != byteCount || received.endOfStream)
        throwInvalidPayload();
    co_return std::move(received.content);
}

// Waits for the end of the peer's direction right after the bytes taken so far. A QUIC peer may end a stream
// with its last bytes or, in a later frame, with an empty one: both are the same end. A further byte is not.
asio::awaitable<void> receiveEndOfStream(ByteStreamReader& stream) {
    auto received = co_await stream.receive(1);
    if (!received.content.empty() || !received.endOfStream)
        throwInvalidPayload();
}

// Receives one representation's data in slices. Only the slice that completes the data of the body's last
// representation may end the stream, and the stream must end right after it.
asio::awaitable<Bytes> receiveData(ByteStreamReader& stream, std::size_t byteCount, bool endsBody,
                                   const asio::cancellation_state& cancellation) {
    Bytes data;
    data.reserve(std::min(byteCount, ClipboardLimits::maximumSliceByteCount));
    std::size_t remaining = byteCount;
    while (remaining > 0) {
        throwIfCancelled(cancellation);
        std::size_t sliceByteCount = std::min(remaining, ClipboardLimits::maximumSliceByteCount);
        auto received = co_await stream.receive(sliceByteCount);
        if (received.content.size() != sliceByteCount)
            throwInvalidPayload();
        bool endsStream = endsBody && sliceByteCount == remaining;
        if (received.endOfStream && !endsStream)
            throwInvalidPayload();
        std::size_t needed = data.size() + sliceByteCount;
        if (data.capacity() < needed)
            data.reserve(std::min(byteCount, std::max(needed, 2 * data.capacity())));
        appendBytes(data, received.content);
        remaining -= sliceByteCount;
        if (endsStream && !received.endOfStream)
            co_await receiveEndOfStream(stream);
    }
    co_return data;
}

std::uint16_t readUInt16(const Bytes& bytes, std::size_t& cursor) {
    auto value = readBigEndianUInt16(bytes, cursor);
    if (!value)
        throwInvalidPayload();
    return *value;
}

std::uint32_t readUInt32(const Bytes& bytes, std::size_t& cursor) {
    auto value = readBigEndianUInt32(bytes, cursor);
    if (!value)
        throwInvalidPayload();
    return *value;
}

}  // namespace

asio::awaitable<void> ClipboardPayloadStreamCodec::write(const ClipboardTransferPayload& payload,
                                                         ByteStreamWriter& stream) {
    auto cancellation = co_await asio::this_coro::cancellation_state;
    const auto& items = payload.items();
    auto encodedByteCount = payload.encodedByteCount();
    if (items.empty() || encodedByteCount > ClipboardLimits::maximumPayloadBodyByteCount)
        throwInvalidPayload();

    // (Buffers are built from sizes and values, not brace lists, which GCC 12 mishandles in coroutines.)
    Bytes itemCount(1, static_cast<std::uint8_t>(items.size()));
    co_await stream.send(std::move(itemCount), false);

    for (std::size_t itemIndex = 0; itemIndex < items.size(); ++itemIndex) {
        throwIfCancelled(cancellation);
        const auto& item = items[itemIndex];
        const auto& metadata = item.fileMetadata();
        Bytes itemHeader;
        appendBigEndian(itemHeader, static_cast<std::uint8_t>(item.representations().size()));
        appendBigEndian(itemHeader, static_cast<std::uint8_t>(metadata ? 1 : 0));
        co_await stream.send(std::move(itemHeader), false);
        if (metadata) {
            Bytes lengths;
            appendBigEndian(lengths, static_cast<std::uint16_t>(metadata->suggestedFilename().size()));
            appendBigEndian(lengths, static_cast<std::uint16_t>(metadata->contentTypeIdentifier().size()));
            co_await stream.send(std::move(lengths), false);
            co_await stream.send(toBytes(metadata->suggestedFilename()), false);
            co_await stream.send(toBytes(metadata->contentTypeIdentifier()), false);
        }

        const auto& representations = item.representations();
        for (std::size_t index = 0; index < representations.size(); ++index) {
            throwIfCancelled(cancellation);
            const auto& identifier = representations[index].typeIdentifier();
            const auto& data = representations[index].data();
            if (identifier.empty() || identifier.size() > ClipboardLimits::maximumTypeIdentifierByteCount ||
                data.empty() || data.size() > ClipboardLimits::maximumRepresentationDataByteCount) {
                throwInvalidPayload();
            }
            Bytes header;
            appendBigEndian(header, static_cast<std::uint16_t>(identifier.size()));
            appendBigEndian(header, static_cast<std::uint32_t>(data.size()));
            co_await stream.send(std::move(header), false);
            co_await stream.send(toBytes(identifier), false);

            bool endsBody = itemIndex + 1 == items.size() && index + 1 == representations.size();
            ByteView remaining(data);
            while (!remaining.empty()) {
                throwIfCancelled(cancellation);
                auto slice =
                    remaining.first(std::min(remaining.size(), ClipboardLimits::maximumSliceByteCount));
                remaining = remaining.subspan(slice.size());
                co_await stream.send(Bytes(slice.begin(), slice.end()), endsBody && remaining.empty());
            }
        }
    }
}

asio::awaitable<ClipboardTransferPayload> ClipboardPayloadStreamCodec::read(ByteStreamReader& stream,
                                                                            std::uint64_t byteCount) {
    auto cancellation = co_await asio::this_coro::cancellation_state;
    if (byteCount < 1 || byteCount > ClipboardLimits::maximumPayloadBodyByteCount)
        throwInvalidPayload();

    std::uint64_t consumed = 0;
    std::size_t representationTotal = 0;
    std::uint64_t dataTotal = 0;

    auto countField = co_await receiveField(stream, 1);
    std::size_t itemCount = countField[0];
    if (itemCount < ClipboardLimits::minimumItemCount || itemCount > ClipboardLimits::maximumItemCount) {
        throwInvalidPayload();
    }
    consumed = 1;

    std::vector<ClipboardItem> items;
    items.reserve(itemCount);
    for (std::size_t itemIndex = 0; itemIndex < itemCount; ++itemIndex) {
        throwIfCancelled(cancellation);
        if (consumed + 2 > byteCount)
            throwInvalidPayload();
        auto itemHeader = co_await receiveField(stream, 2);
        std::size_t representationCount = itemHeader[0];
        std::uint8_t hasFileMetadata = itemHeader[1];
        if (representationCount < ClipboardLimits::minimumRepresentationCountPerItem ||
            representationCount > ClipboardLimits::maximumRepresentationCountPerItem || hasFileMetadata > 1 ||
            representationTotal + representationCount >
                ClipboardLimits::maximumRepresentationCountPerPayload) {
            throwInvalidPayload();
        }
        consumed += 2;

        std::optional<ClipboardFileMetadata> fileMetadata;
        if (hasFileMetadata == 1) {
            if (consumed + 4 > byteCount)
                throwInvalidPayload();
            auto lengths = co_await receiveField(stream, 4);
            std::size_t cursor = 0;
            std::size_t filenameByteCount = readUInt16(lengths, cursor);
            std::size_t contentTypeByteCount = readUInt16(lengths, cursor);
            if (filenameByteCount < 1 ||
                filenameByteCount > ClipboardLimits::maximumSuggestedFilenameByteCount ||
                contentTypeByteCount < 1 ||
                contentTypeByteCount > ClipboardLimits::maximumTypeIdentifierByteCount ||
                consumed + 4 + filenameByteCount + contentTypeByteCount > byteCount) {
                throwInvalidPayload();
            }
            auto filename = co_await receiveField(stream, filenameByteCount);
            auto contentType = co_await receiveField(stream, contentTypeByteCount);
            if (!isValidUtf8(asText(filename)) || !isValidUtf8(asText(contentType)))
                throwInvalidPayload();
            fileMetadata =
                ClipboardFileMetadata::make(std::string(asText(filename)), std::string(asText(contentType)));
            if (!fileMetadata)
                throwInvalidPayload();
            consumed += 4 + filenameByteCount + contentTypeByteCount;
        }

        std::vector<ClipboardRepresentation> representations;
        representations.reserve(representationCount);
        std::vector<std::string> seenIdentifiers;  // canonical decompositions
        for (std::size_t index = 0; index < representationCount; ++index) {
            throwIfCancelled(cancellation);
            if (consumed + 6 > byteCount)
                throwInvalidPayload();
            auto header = co_await receiveField(stream, 6);
            std::size_t cursor = 0;
            std::size_t identifierByteCount = readUInt16(header, cursor);
            std::size_t dataByteCount = readUInt32(header, cursor);
            if (identifierByteCount < 1 ||
                identifierByteCount > ClipboardLimits::maximumTypeIdentifierByteCount || dataByteCount < 1 ||
                dataByteCount > ClipboardLimits::maximumRepresentationDataByteCount ||
                consumed + 6 + identifierByteCount > byteCount) {
                throwInvalidPayload();
            }
            auto identifierBytes = co_await receiveField(stream, identifierByteCount);
            std::string identifier(asText(identifierBytes));
            if (!isValidClipboardTypeIdentifier(identifier))
                throwInvalidPayload();
            auto decomposed = canonicalDecomposition(identifier);
            if (std::find(seenIdentifiers.begin(), seenIdentifiers.end(), decomposed) !=
                seenIdentifiers.end()) {
                throwInvalidPayload();
            }
            seenIdentifiers.push_back(std::move(decomposed));
            if (consumed + 6 + identifierByteCount + dataByteCount > byteCount ||
                dataTotal + dataByteCount > ClipboardLimits::maximumPayloadDataByteCount) {
                throwInvalidPayload();
            }

            bool endsBody = itemIndex + 1 == itemCount && index + 1 == representationCount;
            auto data = co_await receiveData(stream, dataByteCount, endsBody, cancellation);
            auto representation = ClipboardRepresentation::make(std::move(identifier), std::move(data));
            if (!representation)
                throwInvalidPayload();
            representations.push_back(std::move(*representation));
            consumed += 6 + identifierByteCount + dataByteCount;
            representationTotal += 1;
            dataTotal += dataByteCount;
        }

        auto item = ClipboardItem::make(std::move(representations), std::move(fileMetadata));
        if (!item)
            throwInvalidPayload();
        items.push_back(std::move(*item));
    }

    if (consumed != byteCount)
        throwInvalidPayload();
    auto payload = ClipboardTransferPayload::make(std::move(items));
    if (!payload)
        throwInvalidPayload();
    co_return std::move(*payload);
}

asio::awaitable<void> ClipboardPayloadStreamCodec::receiveBytes(std::uint64_t byteCount,
                                                                ByteStreamReader& stream) {
    auto cancellation = co_await asio::this_coro::cancellation_state;
    if (byteCount < 1 || byteCount > ClipboardLimits::maximumPayloadBodyByteCount)
        throwInvalidPayload();
    std::uint64_t remaining = byteCount;
    while (true) {
        throwIfCancelled(cancellation);
        auto requested = static_cast<std::size_t>(
            std::min<std::uint64_t>(remaining, ClipboardLimits::maximumSliceByteCount));
        auto received = co_await stream.receive(requested);
        if (received.content.empty() || received.content.size() > remaining)
            throwInvalidPayload();
        remaining -= received.content.size();
        if (received.endOfStream) {
            if (remaining != 0)
                throwInvalidPayload();
            co_return;
        }
        if (remaining == 0) {
            // The peer must end the stream with the last byte or right after it.
            co_await receiveEndOfStream(stream);
            co_return;
        }
    }
}

asio::awaitable<void> ClipboardPayloadStreamCodec::sendTransferResult(ClipboardTransferResultCode code,
                                                                      ByteStreamWriter& stream) {
    Bytes byte(1, streamByte(code));
    co_await stream.send(std::move(byte), true);
}

asio::awaitable<ClipboardTransferResultCode> ClipboardPayloadStreamCodec::receiveTransferResult(
    ByteStreamReader& stream) {
    auto received = co_await stream.receive(1);
    auto code = clipboardTransferResultCodeFromStreamData(received.content);
    if (!code)
        throwInvalidPayload();
    if (!received.endOfStream)
        co_await receiveEndOfStream(stream);
    co_return *code;
}

}  // namespace quillbridge
