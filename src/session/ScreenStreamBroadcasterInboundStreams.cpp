#include "session/ScreenStreamBroadcaster.hpp"

#include "wire/InboundStreamKind.hpp"

// Streams the headset opens after authorisation, routed by their kind byte. Until the Persona camera,
// microphone and clipboard receivers are built, a stream is identified, logged and not used.

namespace quillbridge {

asio::awaitable<void> ScreenStreamBroadcaster::routeInboundStream(std::shared_ptr<QuicStream> stream,
                                                                  Uuid sessionID) {
    QuicStreamChunk chunk;
    try {
        chunk = co_await stream->receiveExactly(1);
    } catch (const std::exception& error) {
        if (sessionID_ == sessionID) {
            logger_.error("Failed to read an inbound stream's kind: ", error.what());
        }
        co_return;
    }
    if (sessionID_ != sessionID) {
        co_return;
    }
    const auto kind = chunk.data.size() == 1 ? inboundStreamKindFromWireByte(chunk.data[0]) : std::nullopt;
    if (!kind || *kind == InboundStreamKind::video || *kind == InboundStreamKind::audio) {
        logger_.error("Ignoring an inbound stream of unusable kind ",
                      chunk.data.empty() ? -1 : static_cast<int>(chunk.data[0]));
        co_return;
    }
    logger_.info("Inbound stream of kind ", static_cast<int>(*kind), " is not handled yet");
}

}  // namespace quillbridge
