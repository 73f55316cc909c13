// What a broadcaster under test on loopback stands on: the real QUIC transport, the steady clock, in-memory
// discovery, settings and secrets. A test fixture derives from it and adds the services its tests exercise.
#pragma once

#include <asio/any_io_executor.hpp>

#include "core/SteadyClock.hpp"
#include "platform/linux/quic/LinuxQuicTransport.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/FakeSecretStore.hpp"
#include "support/FakeServiceDiscovery.hpp"
#include "support/quic/TestLoopback.hpp"

namespace quillbridge {

class LoopbackBroadcasterServices {
public:
    // A broadcaster's dependencies on these services, listening on an ephemeral port of the loopback
    // address the QUIC test clients connect to.
    ScreenStreamBroadcasterDependencies loopbackDependencies(const asio::any_io_executor& executor) {
        ScreenStreamBroadcasterDependencies dependencies;
        dependencies.executor = executor;
        dependencies.transport = &host;
        dependencies.makeAdvertiser = [this] { return discovery.makeAdvertiser(); };
        dependencies.makeBrowser = [this] { return discovery.makeBrowser(); };
        dependencies.clock = &clock;
        dependencies.defaults = &defaults;
        dependencies.secrets = &secrets;
        dependencies.hostDisplayName = "Loopback Host";
        dependencies.listenPort = 0;
        dependencies.bindAddress = testLoopbackAddress();
        return dependencies;
    }

    SteadyClock clock;
    LinuxQuicTransport host;
    FakeServiceDiscovery discovery;
    FakeDefaultsStore defaults;
    FakeSecretStore secrets;
};

}  // namespace quillbridge
