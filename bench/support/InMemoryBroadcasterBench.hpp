#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include "core/Logger.hpp"
#include "core/SteadyClock.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/FakeQuicTransport.hpp"
#include "support/FakeSecretStore.hpp"
#include "support/FakeServiceDiscovery.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {

// A broadcaster on the in-memory connection with one headset admitted and ready: the control stream is
// open, the session authorised and the receiver ready. Logging is silenced while it lives. `configure` adds
// what a benchmark needs to the broadcaster's dependencies (an audio converter factory, an input sink);
// whatever it points at must outlive this object.
class InMemoryBroadcasterBench {
public:
    explicit InMemoryBroadcasterBench(
        const std::function<void(ScreenStreamBroadcasterDependencies&)>& configure = {}) {
        previousSink_ = installLogSink(std::make_shared<NullSink>());
        ScreenStreamBroadcasterDependencies dependencies;
        dependencies.executor = context.get_executor();
        dependencies.transport = &transport;
        dependencies.makeAdvertiser = [this] { return discovery.makeAdvertiser(); };
        dependencies.makeBrowser = [this] { return discovery.makeBrowser(); };
        dependencies.clock = &clock;
        dependencies.defaults = &defaults;
        dependencies.secrets = &secrets;
        if (configure) {
            configure(dependencies);
        }
        broadcaster = ScreenStreamBroadcaster::create(std::move(dependencies));
        run(broadcaster->startListening());
        headset = transport.latestListener()->connect(Bytes{1, 2, 3});
        drain();
        control = run(headset->openStream(QuicStreamDirectionality::bidirectional));
        send(StreamControlMessage::make<StreamControlMessage::Case::heartbeat>());
        run(broadcaster->authorizeCurrentSession());
        send(StreamControlMessage::make<StreamControlMessage::Case::receiverReady>());
    }

    ~InMemoryBroadcasterBench() {
        run(broadcaster->stop());
        drain();
        broadcaster.reset();
        drain();
        installLogSink(previousSink_);
    }

    InMemoryBroadcasterBench(const InMemoryBroadcasterBench&) = delete;
    InMemoryBroadcasterBench& operator=(const InMemoryBroadcasterBench&) = delete;

    // Runs every handler that is ready until none is left.
    void drain() {
        for (;;) {
            context.restart();
            if (context.poll() == 0) {
                return;
            }
        }
    }

    template <class T>
    T run(asio::awaitable<T> awaitable) {
        std::optional<T> result;
        asio::co_spawn(context, std::move(awaitable),
                       [&](std::exception_ptr, T value) { result = std::move(value); });
        drain();
        return std::move(*result);
    }
    void run(asio::awaitable<void> awaitable) {
        asio::co_spawn(context, std::move(awaitable), asio::detached);
        drain();
    }

    // The headset sends `message` on the control stream.
    void send(const StreamControlMessage& message) {
        run(control->send(ControlMessageFraming::encode(message), false));
    }

    asio::io_context context;
    SteadyClock clock;
    FakeQuicTransport transport;
    FakeServiceDiscovery discovery;
    FakeDefaultsStore defaults;
    FakeSecretStore secrets;
    std::shared_ptr<ScreenStreamBroadcaster> broadcaster;
    std::shared_ptr<FakeQuicConnection> headset;
    std::shared_ptr<QuicStream> control;

private:
    class NullSink final : public LogSink {
    public:
        void write(const LogRecord&) override {}
    };

    std::shared_ptr<LogSink> previousSink_;
};

}  // namespace quillbridge
