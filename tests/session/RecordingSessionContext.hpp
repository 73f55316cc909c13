#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <asio/io_context.hpp>

#include "core/Task.hpp"
#include "session/SessionContext.hpp"

namespace quillbridge {

// A session for one component on its own: an executor, a lifetime token, switches for the connection, the
// authorisation and the receiver, the connection and control stream it hands out, and a record of the control
// messages and states the component gave it.
class RecordingSessionContext final : public SessionContext {
public:
    explicit RecordingSessionContext(asio::io_context& context) : executor_(context.get_executor()) {}

    asio::any_io_executor executor() const override { return executor_; }
    std::shared_ptr<void> keepAlive() override { return alive; }
    std::weak_ptr<void> weakKeepAlive() override { return alive; }
    const Uuid& sessionID() const override { return currentSessionID; }
    std::shared_ptr<QuicConnection> connection() const override { return quicConnection; }
    bool hasConnection() const override { return connected; }
    bool isAuthorized() const override { return authorized; }
    bool isAuthorizedWithControlStream() const override { return authorized && connected; }
    bool isReceiverReady() const override { return receiverReady; }
    std::shared_ptr<QuicStream> controlStream() const override { return control; }
    std::uint64_t hostTimeNanoseconds() const override { return 0; }
    bool isExpectedTransportError(const std::exception_ptr&) const override {
        return transportErrorsExpected;
    }
    void endSessionForLostConnection(std::exception_ptr) override { ++lostConnectionCount; }
    asio::awaitable<void> sendControlMessage(const StreamControlMessage& message) override {
        sent.push_back(message);
        co_return;
    }
    void publishState(ScreenStreamBroadcasterState state) override { states.push_back(std::move(state)); }
    void spawnDetached(std::string name, std::function<asio::awaitable<void>()> body) override {
        detachedTasks.push_back(Task::spawn(
            executor_, [body = std::move(body)]() -> asio::awaitable<void> { co_await body(); },
            std::move(name)));
    }
    const TLSIdentity* listenerIdentity() const override { return nullptr; }
    asio::awaitable<void> acceptConnection(std::shared_ptr<QuicConnection>,
                                           std::shared_ptr<PeerCertificateCapture>) override {
        co_return;
    }

    std::shared_ptr<int> alive = std::make_shared<int>(0);
    Uuid currentSessionID = Uuid::random();
    bool connected = true;
    bool authorized = true;
    bool receiverReady = false;
    bool transportErrorsExpected = false;
    std::shared_ptr<QuicConnection> quicConnection;
    std::shared_ptr<QuicStream> control;
    int lostConnectionCount = 0;
    std::vector<StreamControlMessage> sent;
    std::vector<ScreenStreamBroadcasterState> states;
    std::vector<Task> detachedTasks;

private:
    asio::any_io_executor executor_;
};

}  // namespace quillbridge
