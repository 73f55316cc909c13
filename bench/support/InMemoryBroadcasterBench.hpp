#pragma once

#include <functional>
#include <memory>

#include "core/Logger.hpp"
#include "core/SteadyClock.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "support/DrainingEventLoop.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/FakeQuicTransport.hpp"
#include "support/FakeSecretStore.hpp"
#include "support/FakeServiceDiscovery.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {

// A broadcaster on the in-memory connection, listening. Logging is silenced while it lives. `configure` adds
// what a benchmark needs to the broadcaster's dependencies (an audio converter factory, an input sink);
// whatever it points at must outlive this object.
class InMemoryListeningBroadcaster : public DrainingEventLoop {
public:
    explicit InMemoryListeningBroadcaster(
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
    }

    ~InMemoryListeningBroadcaster() {
        run(broadcaster->stop());
        drain();
        broadcaster.reset();
        drain();
        installLogSink(previousSink_);
    }

    InMemoryListeningBroadcaster(const InMemoryListeningBroadcaster&) = delete;
    InMemoryListeningBroadcaster& operator=(const InMemoryListeningBroadcaster&) = delete;

    // The headset sends `message` on the control stream.
    void send(const StreamControlMessage& message) {
        run(control->send(ControlMessageFraming::encode(message), false));
    }

    SteadyClock clock;
    FakeQuicTransport transport;
    FakeServiceDiscovery discovery;
    FakeDefaultsStore defaults;
    FakeSecretStore secrets;
    std::shared_ptr<ScreenStreamBroadcaster> broadcaster;
    // The headset's connection and control stream, once a benchmark has connected one.
    std::shared_ptr<FakeQuicConnection> headset;
    std::shared_ptr<QuicStream> control;

private:
    class NullSink final : public LogSink {
    public:
        void write(const LogRecord&) override {}
    };

    std::shared_ptr<LogSink> previousSink_;
};

// The listening broadcaster with one headset admitted and ready: the control stream is open, the session
// authorised and the receiver ready.
class InMemoryBroadcasterBench : public InMemoryListeningBroadcaster {
public:
    explicit InMemoryBroadcasterBench(
        const std::function<void(ScreenStreamBroadcasterDependencies&)>& configure = {})
        : InMemoryListeningBroadcaster(configure) {
        headset = transport.latestListener()->connect(Bytes{1, 2, 3});
        drain();
        control = run(headset->openStream(QuicStreamDirectionality::bidirectional));
        send(StreamControlMessage::make<StreamControlMessage::Case::heartbeat>());
        run(broadcaster->authorizeCurrentSession());
        send(StreamControlMessage::make<StreamControlMessage::Case::receiverReady>());
    }
};

}  // namespace quillbridge
