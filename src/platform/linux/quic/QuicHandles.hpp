#pragma once

#include <cstdint>
#include <memory>

#include "platform/linux/quic/QuicRuntime.hpp"
#include "platform/linux/quic/QuicStreamState.hpp"
#include "session/QuicConnection.hpp"
#include "session/QuicListener.hpp"
#include "session/QuicStream.hpp"

namespace quillbridge {

class QuicConnectionEngine;
class QuicEndpoint;

// The handles given out through the ports: each call hops onto the engine thread, awaited results come back
// on the caller's executor, and the destructors tell the engine that the user let go.

class QuicStreamHandle final : public QuicStream {
public:
    QuicStreamHandle(std::shared_ptr<QuicRuntime> runtime, std::shared_ptr<QuicConnectionEngine> engine,
                     std::shared_ptr<QuicStreamState> state);
    ~QuicStreamHandle() override;

    std::int64_t id() const override { return state_->id; }
    QuicStreamDirectionality directionality() const override {
        return state_->isBidirectional ? QuicStreamDirectionality::bidirectional
                                       : QuicStreamDirectionality::unidirectional;
    }
    bool isLocallyInitiated() const override { return state_->isLocal; }
    asio::awaitable<QuicStreamChunk> receive(std::size_t minimumLength, std::size_t maximumLength) override;
    asio::awaitable<void> send(Bytes data, bool endOfStream) override;
    void setApplicationErrorCode(std::uint64_t code) override;
    void reset(std::uint64_t applicationErrorCode) override;
    void stopSending(std::uint64_t applicationErrorCode) override;

private:
    std::shared_ptr<QuicRuntime> runtime_;
    std::shared_ptr<QuicConnectionEngine> engine_;
    std::shared_ptr<QuicStreamState> state_;
};

class QuicConnectionHandle final : public QuicConnection {
public:
    QuicConnectionHandle(std::shared_ptr<QuicRuntime> runtime, std::shared_ptr<QuicConnectionEngine> engine);
    ~QuicConnectionHandle() override;

    void setStateHandler(asio::any_io_executor executor, StateHandler handler) override;
    QuicConnectionState state() const override;
    QuicConnectionCloseInfo closeInfo() const override;
    asio::awaitable<std::shared_ptr<QuicStream>> acceptStream() override;
    asio::awaitable<std::shared_ptr<QuicStream>> openStream(QuicStreamDirectionality directionality) override;
    asio::awaitable<void> sendDatagram(Bytes datagram) override;
    asio::awaitable<Bytes> receiveDatagram() override;
    std::size_t maximumDatagramSize() const override;
    Bytes peerCertificateDER() const override;
    QuicConnectionStatistics statistics() const override;
    void close(std::uint64_t applicationErrorCode) override;

private:
    std::shared_ptr<QuicRuntime> runtime_;
    std::shared_ptr<QuicConnectionEngine> engine_;
};

class QuicListenerHandle final : public QuicListener {
public:
    QuicListenerHandle(std::shared_ptr<QuicRuntime> runtime, std::shared_ptr<QuicEndpoint> endpoint,
                       std::uint64_t generation, std::uint16_t port);
    ~QuicListenerHandle() override;

    std::uint16_t localPort() const override { return port_; }
    asio::awaitable<std::shared_ptr<QuicConnection>> accept() override;
    void stop() override;

private:
    std::shared_ptr<QuicRuntime> runtime_;
    std::shared_ptr<QuicEndpoint> endpoint_;
    std::uint64_t generation_;
    std::uint16_t port_;
};

}  // namespace quillbridge
