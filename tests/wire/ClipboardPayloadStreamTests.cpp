#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/error.hpp>
#include <asio/io_context.hpp>

#include "core/BigEndian.hpp"
#include "wire/ClipboardLimits.hpp"
#include "wire/ClipboardPayloadStreamCodec.hpp"

namespace quillbridge {
namespace {

// A stream whose peer has sent `incoming` and, when `peerEnds`, ended its direction after it (with the last
// bytes, or on its own in the next receive when `endArrivesAlone`). A receive that would have to wait for
// bytes the peer never sends fails instead of hanging. Records every receive request and every send, and
// can run a hook before each (to cancel the caller mid-way).
class ScriptedStream : public ByteStreamReader, public ByteStreamWriter {
public:
    struct Sent {
        Bytes content;
        bool endOfStream;
        bool operator==(const Sent&) const = default;
    };

    explicit ScriptedStream(Bytes incoming = {}, bool peerEnds = true)
        : incoming_(std::move(incoming)), peerEnds_(peerEnds) {}

    asio::awaitable<ReceivedBytes> receive(std::size_t count) override {
        requests.push_back(count);
        if (beforeReceive)
            beforeReceive(requests.size());
        if (failure)
            throw std::system_error(*failure);
        std::size_t available = incoming_.size() - position_;
        if (available < count && !peerEnds_) {
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                    "the receive would wait for ever");
        }
        std::size_t taken = std::min(count, available);
        ReceivedBytes received;
        received.content.assign(incoming_.begin() + static_cast<std::ptrdiff_t>(position_),
                                incoming_.begin() + static_cast<std::ptrdiff_t>(position_ + taken));
        position_ += taken;
        received.endOfStream =
            peerEnds_ && position_ == incoming_.size() && !(endArrivesAlone && !received.content.empty());
        co_return received;
    }

    asio::awaitable<void> send(Bytes bytes, bool endOfStream) override {
        EXPECT_FALSE(ended) << "send after the end of stream";
        sends.push_back({std::move(bytes), endOfStream});
        ended = ended || endOfStream;
        if (beforeSend)
            beforeSend(sends.size());
        co_return;
    }

    Bytes sentBytes() const {
        Bytes all;
        for (const auto& sent : sends)
            appendBytes(all, sent.content);
        return all;
    }

    std::size_t consumed() const { return position_; }

    std::vector<std::size_t> requests;
    std::vector<Sent> sends;
    bool ended = false;
    bool endArrivesAlone = false;
    std::optional<std::error_code> failure;
    std::function<void(std::size_t)> beforeReceive;
    std::function<void(std::size_t)> beforeSend;

private:
    Bytes incoming_;
    bool peerEnds_;
    std::size_t position_ = 0;
};

// Runs a coroutine to its end on a private io_context, with an optional cancellation signal bound to it.
template <typename T>
T run(asio::awaitable<T> task, asio::cancellation_signal* signal = nullptr) {
    asio::io_context context;
    std::exception_ptr failure;
    std::optional<T> result;
    asio::cancellation_slot slot = signal ? signal->slot() : asio::cancellation_slot();
    // co_spawn wants a default-constructible result, which a validated payload is not.
    auto wrapped = [](asio::awaitable<T> inner) -> asio::awaitable<std::optional<T>> {
        co_return co_await std::move(inner);
    };
    asio::co_spawn(context, wrapped(std::move(task)),
                   asio::bind_cancellation_slot(slot, [&](std::exception_ptr error, std::optional<T> value) {
                       failure = error;
                       result = std::move(value);
                   }));
    context.run();
    if (failure)
        std::rethrow_exception(failure);
    return std::move(*result);
}

template <>
void run<void>(asio::awaitable<void> task, asio::cancellation_signal* signal) {
    asio::io_context context;
    std::exception_ptr failure;
    asio::cancellation_slot slot = signal ? signal->slot() : asio::cancellation_slot();
    asio::co_spawn(context, std::move(task),
                   asio::bind_cancellation_slot(slot, [&](std::exception_ptr error) { failure = error; }));
    context.run();
    if (failure)
        std::rethrow_exception(failure);
}

// What a body looks like byte by byte, written field by field from the format (not by the codec).
class Body {
public:
    Body& u8(unsigned value) { return append(static_cast<std::uint8_t>(value)); }
    Body& u16(unsigned value) { return append(static_cast<std::uint16_t>(value)); }
    Body& u32(std::uint32_t value) { return append(value); }
    Body& text(std::string_view text) {
        appendBytes(bytes, asBytes(text));
        return *this;
    }
    Body& fill(std::size_t count, std::uint8_t value = 'x') {
        bytes.insert(bytes.end(), count, value);
        return *this;
    }
    Body& item(unsigned representations, unsigned hasMetadata) { return u8(representations).u8(hasMetadata); }
    Body& metadata(std::string_view filename, std::string_view contentType) {
        return u16(static_cast<unsigned>(filename.size()))
            .u16(static_cast<unsigned>(contentType.size()))
            .text(filename)
            .text(contentType);
    }
    Body& representation(std::string_view identifier, std::string_view data) {
        return u16(static_cast<unsigned>(identifier.size()))
            .u32(static_cast<std::uint32_t>(data.size()))
            .text(identifier)
            .text(data);
    }
    std::size_t size() const { return bytes.size(); }

    Bytes bytes;

private:
    template <typename T>
    Body& append(T value) {
        appendBigEndian(bytes, value);
        return *this;
    }
};

ClipboardRepresentation representation(std::string identifier, Bytes data) {
    return *ClipboardRepresentation::make(std::move(identifier), std::move(data));
}
ClipboardRepresentation representation(std::string identifier, std::string_view data) {
    return representation(std::move(identifier), toBytes(data));
}

// Item 0: plain text; item 1: a file with two forms.
ClipboardTransferPayload samplePayload() {
    auto text = *ClipboardItem::make({representation("public.utf8-plain-text", "hi")}, std::nullopt);
    auto file =
        *ClipboardItem::make({representation("public.png", "PNG!"), representation("public.tiff", "TIFF")},
                             ClipboardFileMetadata::make("a.png", "public.png"));
    return *ClipboardTransferPayload::make({text, file});
}

Body sampleBody() {
    Body body;
    body.u8(2);
    body.item(1, 0).representation("public.utf8-plain-text", "hi");
    body.item(2, 1)
        .metadata("a.png", "public.png")
        .representation("public.png", "PNG!")
        .representation("public.tiff", "TIFF");
    return body;
}

bool isInvalidPayload(const std::exception_ptr& failure) {
    if (!failure)
        return false;
    try {
        std::rethrow_exception(failure);
    } catch (const ClipboardPayloadStreamCodecException& error) {
        return error.error() == ClipboardPayloadStreamCodecError::invalidPayload;
    } catch (...) {
        return false;
    }
}

std::exception_ptr failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

std::string describe(const std::exception_ptr& failure) {
    if (!failure)
        return "no failure";
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown exception";
    }
}

// ---- writing -----------------------------------------------------------------------------------------

TEST(ClipboardPayloadStreamTests, WriterSendsFieldGroupsInOrderAndEndsWithTheLastByte) {
    ScriptedStream stream;
    run(ClipboardPayloadStreamCodec::write(samplePayload(), stream));

    auto bytes = [](std::string_view hex) { return *fromHex(hex); };
    const std::vector<ScriptedStream::Sent> expected = {
        {bytes("02"), false},
        {bytes("01 00"), false},
        {bytes("0016 00000002"), false},
        {toBytes("public.utf8-plain-text"), false},
        {toBytes("hi"), false},
        {bytes("02 01"), false},
        {bytes("0005 000a"), false},
        {toBytes("a.png"), false},
        {toBytes("public.png"), false},
        {bytes("000a 00000004"), false},
        {toBytes("public.png"), false},
        {toBytes("PNG!"), false},
        {bytes("000b 00000004"), false},
        {toBytes("public.tiff"), false},
        {toBytes("TIFF"), true},
    };
    EXPECT_EQ(stream.sends, expected);
    EXPECT_EQ(stream.sentBytes(), sampleBody().bytes);
    EXPECT_EQ(stream.sentBytes().size(), samplePayload().encodedByteCount());
    EXPECT_TRUE(stream.requests.empty());
}

TEST(ClipboardPayloadStreamTests, LargeRepresentationsMoveInSlicesOfAtMost256KiB) {
    Bytes data(600'000);
    for (std::size_t index = 0; index < data.size(); ++index)
        data[index] = static_cast<std::uint8_t>(index * 7);
    auto payload = *ClipboardTransferPayload::make(
        {*ClipboardItem::make({representation("public.data", data)}, std::nullopt)});

    ScriptedStream writer;
    run(ClipboardPayloadStreamCodec::write(payload, writer));
    // Item count, item header, representation header, identifier, then the three slices.
    ASSERT_EQ(writer.sends.size(), 7u);
    EXPECT_EQ(writer.sends[4].content.size(), 262'144u);
    EXPECT_EQ(writer.sends[5].content.size(), 262'144u);
    EXPECT_EQ(writer.sends[6].content.size(), 75'712u);
    EXPECT_FALSE(writer.sends[5].endOfStream);
    EXPECT_TRUE(writer.sends[6].endOfStream);

    auto body = writer.sentBytes();
    ScriptedStream reader(body);
    auto read = run(ClipboardPayloadStreamCodec::read(reader, body.size()));
    EXPECT_EQ((std::vector<std::size_t>{1, 2, 6, 11, 262'144, 262'144, 75'712}), reader.requests);
    ASSERT_EQ(read.items().size(), 1u);
    EXPECT_EQ(read.items()[0].representations()[0].data(), data);
}

// ---- reading -----------------------------------------------------------------------------------------

TEST(ClipboardPayloadStreamTests, ReaderDecodesHandAssembledBodies) {
    // One item, one representation "text" = "hi", spelled out byte by byte.
    auto tiny = *fromHex("01 01 00 0004 00000002 74657874 6869");
    ScriptedStream tinyStream(tiny);
    auto decoded = run(ClipboardPayloadStreamCodec::read(tinyStream, tiny.size()));
    ASSERT_EQ(decoded.items().size(), 1u);
    EXPECT_EQ(decoded.items()[0], *ClipboardItem::make({representation("text", "hi")}, std::nullopt));

    auto body = sampleBody();
    ScriptedStream stream(body.bytes);
    auto payload = run(ClipboardPayloadStreamCodec::read(stream, body.size()));
    EXPECT_EQ(payload.items(), samplePayload().items());
    EXPECT_EQ(stream.consumed(), body.size());
}

TEST(ClipboardPayloadStreamTests, LargestShapesRoundTrip) {
    // 16 items, 64 representations, metadata at its longest, identifiers at 512 bytes.
    std::vector<ClipboardItem> items;
    for (int itemIndex = 0; itemIndex < 16; ++itemIndex) {
        std::vector<ClipboardRepresentation> representations;
        for (int index = 0; index < 4; ++index) {
            auto identifier = std::to_string(itemIndex) + "." + std::to_string(index) + ".";
            identifier += std::string(512 - identifier.size(), 'i');
            representations.push_back(
                representation(identifier, Bytes(static_cast<std::size_t>(1 + itemIndex * 1000), 0xA5)));
        }
        auto contentType = representations[0].typeIdentifier();
        std::optional<ClipboardFileMetadata> metadata;
        if (itemIndex % 2 == 0)
            metadata = ClipboardFileMetadata::make(std::string(1024, 'f'), contentType);
        items.push_back(*ClipboardItem::make(std::move(representations), std::move(metadata)));
    }
    // The same identifiers in different items are fine.
    items.push_back(items.front());
    items.erase(items.begin() + 1);
    auto payload = *ClipboardTransferPayload::make(items);

    ScriptedStream writer;
    run(ClipboardPayloadStreamCodec::write(payload, writer));
    auto body = writer.sentBytes();
    EXPECT_EQ(body.size(), payload.encodedByteCount());

    ScriptedStream reader(body);
    auto decoded = run(ClipboardPayloadStreamCodec::read(reader, body.size()));
    EXPECT_EQ(decoded.items(), payload.items());
    EXPECT_EQ(decoded.representationCount(), 64u);
}

struct RefusalCase {
    std::string name;
    Bytes body;
    std::optional<std::uint64_t> byteCount;  // the body's size when absent
    bool peerEnds = true;
    std::size_t consumedAtRefusal = 0;  // how many bytes the reader has taken when it refuses
};

std::vector<RefusalCase> refusalCases() {
    const std::uint64_t largest = ClipboardLimits::maximumPayloadBodyByteCount;
    std::vector<RefusalCase> cases;
    auto add = [&](std::string name, const Body& body, std::size_t consumed,
                   std::optional<std::uint64_t> byteCount = {}, bool peerEnds = true) {
        cases.push_back({std::move(name), body.bytes, byteCount, peerEnds, consumed});
    };

    add("item count 0", Body().u8(0).item(1, 0).representation("t", "x"), 1);
    add("item count 17", Body().u8(17).item(1, 0).representation("t", "x"), 1);
    add("representation count 0", Body().u8(1).item(0, 0).representation("t", "x"), 3);
    add("representation count 33", Body().u8(1).item(33, 0).representation("t", "x"), 3);
    add("metadata flag 2", Body().u8(1).item(1, 2).representation("t", "x"), 3);
    {
        Body body;
        body.u8(3);
        for (int itemIndex = 0; itemIndex < 2; ++itemIndex) {
            body.item(32, 0);
            for (int index = 0; index < 32; ++index)
                body.representation("t" + std::to_string(index), "x");
        }
        std::size_t beforeThird = body.size();
        body.item(1, 0).representation("t", "x");
        add("a 65th representation", body, beforeThird + 2);
    }
    add("identifier length 0", Body().u8(1).item(1, 0).u16(0).u32(1).text("x"), 9);
    add("identifier length 513", Body().u8(1).item(1, 0).u16(513).u32(1).fill(513).text("x"), 9);
    add("data length 0", Body().u8(1).item(1, 0).u16(1).u32(0).text("t"), 9);
    add("data length 64 MiB + 1", Body().u8(1).item(1, 0).u16(1).u32(67'108'865).text("t").text("x"), 9,
        largest);
    add("filename length 0", Body().u8(1).item(1, 1).u16(0).u16(1).text("t").representation("t", "x"), 7);
    add("filename length 1025",
        Body().u8(1).item(1, 1).u16(1025).u16(1).fill(1025).text("t").representation("t", "x"), 7);
    add("content type length 0", Body().u8(1).item(1, 1).u16(1).u16(0).text("f").representation("t", "x"), 7);
    add("content type length 513",
        Body().u8(1).item(1, 1).u16(1).u16(513).text("f").fill(513).representation("t", "x"), 7);
    add("metadata longer than the body", Body().u8(1).item(1, 1).metadata("a.png", "public.png"), 7,
        1 + 2 + 4 + 5);
    for (std::string_view filename : {"a/b", ".", "..", "line\nfeed", "\xff.png"}) {
        add("filename " + std::string(filename),
            Body().u8(1).item(1, 1).metadata(filename, "t").representation("t", "x"),
            1 + 2 + 4 + filename.size() + 1);
    }
    add("content type with a control character",
        Body().u8(1).item(1, 1).metadata("f", "t\x01").representation("t\x01", "x"), 1 + 2 + 4 + 1 + 2);
    add("identifier not UTF-8", Body().u8(1).item(1, 0).representation("\xc3", "x"), 10);
    add("identifier with a line feed", Body().u8(1).item(1, 0).representation("a\nb", "x"), 12);
    add("identifiers repeated in one item",
        Body().u8(1).item(2, 0).representation("t", "x").representation("t", "y"), 1 + 2 + 8 + 7);
    add("identifiers canonically equal in one item",
        Body().u8(1).item(2, 0).representation("\xc3\xa9", "x").representation("e\xcc\x81", "y"),
        1 + 2 + 9 + 6 + 3);
    {
        auto body =
            Body().u8(1).item(1, 1).metadata("a.png", "public.png").representation("public.tiff", "x");
        add("metadata naming no representation", body, body.size());
    }
    {
        auto body = Body().u8(1).item(1, 0).representation("text", "hi");
        add("byte count larger than the body", body, body.size(), body.size() + 1);
        add("byte count smaller than the body", body, 1 + 2 + 6 + 4, body.size() - 1);
        add("byte count ending inside the identifier", body, 1 + 2 + 6, 1 + 2 + 6 + 3);
        auto two = Body().u8(2).item(1, 0).representation("t", "x").item(1, 0).representation("u", "y");
        add("byte count ending before an item header", two, 1 + 2 + 8, 1 + 2 + 8 + 1);
        auto file = Body().u8(1).item(1, 1).metadata("a.png", "t").representation("t", "x");
        add("byte count ending inside the metadata lengths", file, 3, 3 + 3);
        auto withExtraByte = body;
        withExtraByte.u8(0);
        add("a byte after the final slice", withExtraByte, body.size() + 1, body.size());
        auto truncated = body;
        truncated.bytes.resize(3);
        add("end of stream between fields", truncated, 3, body.size());
        auto endsAfterIdentifier = body;
        endsAfterIdentifier.bytes.resize(13);
        add("end of stream with the identifier", endsAfterIdentifier, 13, body.size());
    }
    {
        auto two = Body().u8(1).item(2, 0).representation("a", "xyz").representation("b", "uvw");
        auto endsEarly = two;
        endsEarly.bytes.resize(1 + 2 + 6 + 1 + 3);
        add("end of stream with a representation that is not the last", endsEarly, endsEarly.size(),
            two.size());
    }
    add("data that lies about its length", Body().u8(1).item(1, 0).u16(1).u32(67'108'864).text("t").fill(10),
        1 + 2 + 6 + 1 + 10, largest);
    {
        // Two representations that each fit but together pass 64 MiB: the second is refused before its data.
        Body body;
        body.u8(1).item(2, 0).u16(1).u32(33'554'433).text("a").fill(33'554'433);
        body.u16(1).u32(33'554'432).text("b");
        // The peer has not ended its direction: only the sum can refuse here.
        add("data over 64 MiB in all", body, body.size(), largest, false);
    }
    add("byte count 0", Body().u8(1).item(1, 0).representation("t", "x"), 0, 0);
    add("byte count over the bound", Body().u8(1).item(1, 0).representation("t", "x"), 0, largest + 1);
    return cases;
}

TEST(ClipboardPayloadStreamTests, ReaderRefusesEveryBrokenRuleHavingTakenExactlyWhatItChecked) {
    for (const auto& testCase : refusalCases()) {
        SCOPED_TRACE(testCase.name);
        ScriptedStream stream(testCase.body, testCase.peerEnds);
        auto byteCount = testCase.byteCount.value_or(testCase.body.size());
        auto failure = failureOf([&] { run(ClipboardPayloadStreamCodec::read(stream, byteCount)); });
        EXPECT_TRUE(isInvalidPayload(failure)) << describe(failure);
        EXPECT_EQ(stream.consumed(), testCase.consumedAtRefusal);
        for (auto request : stream.requests)
            EXPECT_LE(request, ClipboardLimits::maximumSliceByteCount);
    }
}

TEST(ClipboardPayloadStreamTests, StreamErrorsPassThroughUnchanged) {
    auto body = sampleBody();
    ScriptedStream stream(body.bytes);
    stream.beforeReceive = [&](std::size_t count) {
        if (count == 4)
            stream.failure = std::make_error_code(std::errc::connection_reset);
    };
    try {
        run(ClipboardPayloadStreamCodec::read(stream, body.size()));
        FAIL() << "read succeeded";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::make_error_code(std::errc::connection_reset));
    }
}

// ---- discarding --------------------------------------------------------------------------------------

TEST(ClipboardPayloadStreamTests, DiscardingTakesExactlyTheBodyEndingTheStream) {
    {
        ScriptedStream stream(Bytes(10, 1));
        run(ClipboardPayloadStreamCodec::receiveBytes(10, stream));
        EXPECT_EQ(stream.requests, (std::vector<std::size_t>{10}));
    }
    {
        ScriptedStream stream(Bytes(600'000, 1));
        run(ClipboardPayloadStreamCodec::receiveBytes(600'000, stream));
        EXPECT_EQ(stream.requests, (std::vector<std::size_t>{262'144, 262'144, 75'712}));
    }
    struct Case {
        std::string name;
        Bytes incoming;
        bool peerEnds;
        std::uint64_t byteCount;
        std::size_t receives;
    };
    const Case cases[] = {
        {"end of stream after 9 bytes", Bytes(9), true, 10, 1},
        {"more bytes than announced", Bytes(11), true, 10, 2},
        {"nothing but the end of stream", Bytes(), true, 10, 1},
        {"byte count 0", Bytes(1), true, 0, 0},
        {"byte count over the bound", Bytes(1), true, ClipboardLimits::maximumPayloadBodyByteCount + 1, 0},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        ScriptedStream stream(testCase.incoming, testCase.peerEnds);
        auto failure =
            failureOf([&] { run(ClipboardPayloadStreamCodec::receiveBytes(testCase.byteCount, stream)); });
        EXPECT_TRUE(isInvalidPayload(failure)) << describe(failure);
        EXPECT_EQ(stream.requests.size(), testCase.receives);
    }
}

// ---- result byte -------------------------------------------------------------------------------------

TEST(ClipboardPayloadStreamTests, ResultByteEndsTheStream) {
    ScriptedStream sender;
    run(ClipboardPayloadStreamCodec::sendTransferResult(ClipboardTransferResultCode::cancelled, sender));
    EXPECT_EQ(sender.sends, (std::vector<ScriptedStream::Sent>{{Bytes(1, 5), true}}));

    ScriptedStream cancelled(Bytes(1, 5));
    EXPECT_EQ(run(ClipboardPayloadStreamCodec::receiveTransferResult(cancelled)),
              ClipboardTransferResultCode::cancelled);
    ScriptedStream succeeded(Bytes(1, 1));
    EXPECT_EQ(run(ClipboardPayloadStreamCodec::receiveTransferResult(succeeded)),
              ClipboardTransferResultCode::succeeded);

    struct Case {
        std::string name;
        Bytes incoming;
        bool peerEnds;
    };
    const Case cases[] = {
        {"byte 0", Bytes(1, 0), true},
        {"byte 7", Bytes(1, 7), true},
        {"a second byte", Bytes(2, 5), true},
        {"nothing", Bytes(), true},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        ScriptedStream stream(testCase.incoming, testCase.peerEnds);
        auto failure = failureOf([&] { run(ClipboardPayloadStreamCodec::receiveTransferResult(stream)); });
        EXPECT_TRUE(isInvalidPayload(failure)) << describe(failure);
    }
}

// ---- end of stream on its own ---------------------------------------------------------------------

// A QUIC peer may end its direction in an empty frame after its last bytes: every reader takes that end as
// if it had come with them, and waits for it (here the stream cannot wait and fails instead of hanging).
TEST(ClipboardPayloadStreamTests, ReadersTakeAnEndOfStreamThatArrivesAloneAfterTheLastByte) {
    auto body = sampleBody();
    struct Case {
        std::string name;
        Bytes incoming;
        std::function<void(ScriptedStream&)> read;
    };
    const Case cases[] = {
        {"body", body.bytes,
         [&](ScriptedStream& stream) {
             auto payload = run(ClipboardPayloadStreamCodec::read(stream, body.size()));
             EXPECT_EQ(payload.items(), samplePayload().items());
         }},
        {"discarded body", Bytes(10, 1),
         [](ScriptedStream& stream) { run(ClipboardPayloadStreamCodec::receiveBytes(10, stream)); }},
        {"result byte", Bytes(1, 5),
         [](ScriptedStream& stream) {
             EXPECT_EQ(run(ClipboardPayloadStreamCodec::receiveTransferResult(stream)),
                       ClipboardTransferResultCode::cancelled);
         }},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        ScriptedStream alone(testCase.incoming);
        alone.endArrivesAlone = true;
        auto failure = failureOf([&] { testCase.read(alone); });
        EXPECT_FALSE(failure) << describe(failure);
        EXPECT_EQ(alone.consumed(), testCase.incoming.size());
        ASSERT_FALSE(alone.requests.empty());
        EXPECT_EQ(alone.requests.back(), 1u);  // the receive that saw the end

        ScriptedStream neverEnds(testCase.incoming, false);
        failure = failureOf([&] { testCase.read(neverEnds); });
        EXPECT_FALSE(isInvalidPayload(failure)) << "refused before the end could arrive";
        EXPECT_TRUE(failure) << "accepted without the end of stream";
        EXPECT_EQ(neverEnds.consumed(), testCase.incoming.size());
    }
}

// ---- cancellation ------------------------------------------------------------------------------------

bool isOperationAborted(const std::exception_ptr& failure) {
    if (!failure)
        return false;
    try {
        std::rethrow_exception(failure);
    } catch (const std::system_error& error) {
        return error.code() == asio::error::operation_aborted;
    } catch (...) {
        return false;
    }
}

TEST(ClipboardPayloadStreamTests, CancellationStopsEachOperationAtItsNextCheckpoint) {
    Bytes data(600'000, 3);
    auto payload = *ClipboardTransferPayload::make(
        {*ClipboardItem::make({representation("public.data", data)}, std::nullopt)});
    {
        // Cancelled while the first data slice is sent: no further slice, and the stream never ends.
        asio::cancellation_signal signal;
        ScriptedStream stream;
        stream.beforeSend = [&](std::size_t count) {
            if (count == 5)
                signal.emit(asio::cancellation_type::terminal);
        };
        auto failure = failureOf([&] { run(ClipboardPayloadStreamCodec::write(payload, stream), &signal); });
        EXPECT_TRUE(isOperationAborted(failure)) << describe(failure);
        EXPECT_EQ(stream.sends.size(), 5u);
        EXPECT_FALSE(stream.ended);
    }
    {
        // Cancelled while the first data slice is received.
        ScriptedStream writer;
        run(ClipboardPayloadStreamCodec::write(payload, writer));
        asio::cancellation_signal signal;
        ScriptedStream stream(writer.sentBytes());
        stream.beforeReceive = [&](std::size_t count) {
            if (count == 5)
                signal.emit(asio::cancellation_type::terminal);
        };
        auto failure = failureOf(
            [&] { run(ClipboardPayloadStreamCodec::read(stream, writer.sentBytes().size()), &signal); });
        EXPECT_TRUE(isOperationAborted(failure)) << describe(failure);
        EXPECT_EQ(stream.requests.size(), 5u);
    }
    {
        asio::cancellation_signal signal;
        ScriptedStream stream(Bytes(600'000));
        stream.beforeReceive = [&](std::size_t) { signal.emit(asio::cancellation_type::terminal); };
        auto failure =
            failureOf([&] { run(ClipboardPayloadStreamCodec::receiveBytes(600'000, stream), &signal); });
        EXPECT_TRUE(isOperationAborted(failure)) << describe(failure);
        EXPECT_EQ(stream.requests.size(), 1u);
    }
}

}  // namespace
}  // namespace quillbridge
