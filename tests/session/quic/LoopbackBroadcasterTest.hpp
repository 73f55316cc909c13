#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "core/Logger.hpp"
#include "session/QuicStream.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "session/quic/LoopbackEventLoop.hpp"
#include "support/session/LoopbackBroadcasterServices.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {

// A broadcaster under test on the loopback services, stopped when the test ends. A suite adds the services
// its tests exercise to loopbackDependencies() and starts the broadcaster with them.
class LoopbackBroadcasterTest : public LoopbackEventLoop, protected LoopbackBroadcasterServices {
protected:
    void TearDown() override { stopBroadcaster(); }

    // Makes the broadcaster and starts it listening.
    void startBroadcaster(ScreenStreamBroadcasterDependencies dependencies) {
        broadcaster = ScreenStreamBroadcaster::create(std::move(dependencies));
        run(broadcaster->startListening());
    }

    // Makes the broadcaster, starts it listening and waits until it is advertised, which gives `port`.
    void startAdvertisedBroadcaster(ScreenStreamBroadcasterDependencies dependencies) {
        startBroadcaster(std::move(dependencies));
        ASSERT_TRUE(runUntil(
            [&] { return discovery.lastAdvertiser() && discovery.lastAdvertiser()->isPublished(); }));
        port = discovery.lastAdvertiser()->advertisement()->port;
    }

    // Stops the broadcaster and lets its connections wind down.
    void stopBroadcaster() {
        using namespace std::chrono_literals;
        if (broadcaster) {
            run(broadcaster->stop());
            runFor(50ms);
            broadcaster.reset();
        }
        runFor(20ms);
    }

    // Sends the hello of a headset that asks to pair (the host answers with its own hello and waits, so
    // nothing else arrives before the test authorises the session itself), then waits until the host's
    // control loop has read it. False when it did not within the wait bound.
    bool sendPairingHello(QuicStream& control, std::string displayName) {
        ScopedLogCapture logs;
        SessionHelloMessage hello;
        hello.displayName = std::move(displayName);
        hello.wantsPairing = true;
        hello.controlProtocolVersion = 19;
        hello.minimumCompatibleControlProtocolVersion = 19;
        run(control.send(ControlMessageFraming::encode(
                             StreamControlMessage::make<StreamControlMessage::Case::hello>(hello)),
                         false));
        return runUntil([&] {
            for (const auto& message : logs.messages("ScreenStreamBroadcaster")) {
                if (message.starts_with("Received hello")) {
                    return true;
                }
            }
            return false;
        });
    }

    std::uint16_t port = 0;
    std::shared_ptr<ScreenStreamBroadcaster> broadcaster;
};

}  // namespace quillbridge
