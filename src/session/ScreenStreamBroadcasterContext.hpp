#pragma once

#include "session/ScreenStreamBroadcaster.hpp"

namespace quillbridge {

// The session as its components see it: a view of the broadcaster's connection, authorisation and outputs.
// Private to the broadcaster's sources.
class ScreenStreamBroadcaster::Context final : public SessionContext {
public:
    explicit Context(ScreenStreamBroadcaster& broadcaster) : broadcaster_(broadcaster) {}

    asio::any_io_executor executor() const override { return broadcaster_.actor_.executor(); }
    std::shared_ptr<void> keepAlive() override { return broadcaster_.shared_from_this(); }
    std::weak_ptr<void> weakKeepAlive() override { return broadcaster_.weak_from_this(); }
    const Uuid& sessionID() const override { return broadcaster_.sessionID_; }
    std::shared_ptr<QuicConnection> connection() const override { return broadcaster_.connection_; }
    bool isAuthorized() const override { return broadcaster_.isAuthorized_; }
    bool isReceiverReady() const override { return broadcaster_.isReceiverReady_; }
    std::shared_ptr<QuicStream> controlStream() const override { return broadcaster_.controlStream_; }
    std::uint64_t hostTimeNanoseconds() const override { return broadcaster_.hostTimeNanoseconds(); }
    bool isExpectedTransportError(const std::exception_ptr& error) const override {
        return broadcaster_.handleTransportError(error);
    }
    void endSessionForLostConnection(std::exception_ptr error) override {
        broadcaster_.startConnectionLostTeardown(std::move(error));
    }
    bool hasConnection() const override { return broadcaster_.connection_ != nullptr; }
    bool isAuthorizedWithControlStream() const override {
        return broadcaster_.isAuthorized_ && broadcaster_.controlStream_ != nullptr;
    }
    asio::awaitable<void> sendControlMessage(const StreamControlMessage& message) override {
        return broadcaster_.sendControlMessageOnActor(message);
    }
    void publishState(ScreenStreamBroadcasterState state) override {
        broadcaster_.updates_.yield(std::move(state));
    }
    void spawnDetached(std::string name, std::function<asio::awaitable<void>()> body) override {
        broadcaster_.spawnDetached(std::move(name), std::move(body));
    }
    const TLSIdentity* listenerIdentity() const override {
        if (!broadcaster_.tlsIdentity_ || !broadcaster_.localSigningPrivateKey_) {
            return nullptr;
        }
        return &*broadcaster_.tlsIdentity_;
    }
    asio::awaitable<void> acceptConnection(std::shared_ptr<QuicConnection> connection,
                                           std::shared_ptr<PeerCertificateCapture> capture) override {
        return broadcaster_.accept(std::move(connection), std::move(capture));
    }

private:
    ScreenStreamBroadcaster& broadcaster_;
};

}  // namespace quillbridge
