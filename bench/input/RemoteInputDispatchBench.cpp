// Host time from an input control message arriving on the control stream to its XTest request flushed to
// the X server: the frame is read and decoded by the broadcaster, dispatched through the remote-input sink
// to the controllers, and posted by the XTest poster (which flushes before returning). The connection is
// the in-memory fake, so the figures are the host's own cost without a network.
// Needs an X server: run it under tests/support/run-desktop-services.sh --x11 -- <this program>.
// Median and 99th percentile per message kind are printed, not asserted.

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include "core/Logger.hpp"
#include "core/ManualClock.hpp"
#include "input/MacKeyboardInputSourceSwitcher.hpp"
#include "input/MacKeyboardLockController.hpp"
#include "input/RemoteKeyboardController.hpp"
#include "input/RemoteMouseController.hpp"
#include "input/RemoteSystemActionController.hpp"
#include "platform/linux/x11/XTestInputPoster.hpp"
#include "platform/linux/x11/XkbKeyboardLayouts.hpp"
#include "platform/linux/x11/XkbKeyboardLockPort.hpp"
#include "session/RemoteInputControllers.hpp"
#include "session/ScreenStreamBroadcaster.hpp"
#include "support/DrainingEventLoop.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/FakeQuicTransport.hpp"
#include "support/FakeSecretStore.hpp"
#include "support/FakeServiceDiscovery.hpp"
#include "support/input/FakeSystemServices.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {
namespace {

using Case = StreamControlMessage::Case;

class NullSink final : public LogSink {
public:
    void write(const LogRecord&) override {}
};

double percentileMicroseconds(std::vector<double> nanoseconds, double fraction) {
    if (nanoseconds.empty())
        return 0;
    const auto index = static_cast<std::size_t>(fraction * (nanoseconds.size() - 1));
    std::nth_element(nanoseconds.begin(), nanoseconds.begin() + index, nanoseconds.end());
    return nanoseconds[index] / 1000;
}

// An authorised session whose remote input goes to the controllers on the real X11 adapters.
struct Session : DrainingEventLoop {
    std::unique_ptr<XTestInputPoster> poster = XTestInputPoster::open();
    std::unique_ptr<XkbKeyboardLayouts> layouts = XkbKeyboardLayouts::open();
    ManualClock clock;
    FakeQuicTransport transport;
    FakeServiceDiscovery discovery;
    FakeDefaultsStore defaults;
    FakeSecretStore secrets;
    FakeSystemServices services;
    std::unique_ptr<RemoteKeyboardController> keyboard;
    std::unique_ptr<RemoteMouseController> mouse;
    std::unique_ptr<RemoteSystemActionController> systemActions;
    std::unique_ptr<RemoteInputControllers> input;
    std::shared_ptr<LogSink> previousSink;
    std::shared_ptr<ScreenStreamBroadcaster> broadcaster;
    std::shared_ptr<FakeQuicConnection> headset;
    std::shared_ptr<QuicStream> control;

    Session() {
        if (!poster || !layouts)
            return;
        previousSink = installLogSink(std::make_shared<NullSink>());
        keyboard = std::make_unique<RemoteKeyboardController>(RemoteKeyboardController::Dependencies{
            *poster,
            *poster,
            *layouts,
            clock,
            std::make_unique<MacKeyboardLockController>(std::make_unique<XkbKeyboardLockPort>()),
            std::make_unique<MacKeyboardInputSourceSwitcher>(*layouts, defaults),
            {}});
        mouse = std::make_unique<RemoteMouseController>(*poster, *poster, clock);
        mouse->capturedDisplayFrame = {0, 0, 1920, 1080};
        systemActions = std::make_unique<RemoteSystemActionController>(services);
        input = std::make_unique<RemoteInputControllers>(*mouse, *keyboard, *systemActions);

        ScreenStreamBroadcasterDependencies dependencies;
        dependencies.executor = context.get_executor();
        dependencies.transport = &transport;
        dependencies.makeAdvertiser = [this] { return discovery.makeAdvertiser(); };
        dependencies.makeBrowser = [this] { return discovery.makeBrowser(); };
        dependencies.clock = &clock;
        dependencies.defaults = &defaults;
        dependencies.secrets = &secrets;
        dependencies.remoteInput = input.get();
        broadcaster = ScreenStreamBroadcaster::create(std::move(dependencies));
        run(broadcaster->startListening());
        headset = transport.latestListener()->connect(Bytes{1, 2, 3});
        drain();
        control = run(headset->openStream(QuicStreamDirectionality::bidirectional));
        run(broadcaster->authorizeCurrentSession());
    }

    ~Session() {
        if (!broadcaster)
            return;
        run(broadcaster->stop());
        drain();
        broadcaster.reset();
        drain();
        installLogSink(previousSink);
    }

    bool ready() const { return broadcaster != nullptr; }

    // The X server has handled everything sent so far (keeps its queue from growing during the run).
    void sync() {
        auto cookie = xcb_get_input_focus(poster->connection().get());
        XcbReply<xcb_get_input_focus_reply_t> reply(
            xcb_get_input_focus_reply(poster->connection().get(), cookie, nullptr));
    }
};

Session& session() {
    static Session instance;
    return instance;
}

// Each iteration sends one framed message and returns once the broadcaster has dispatched it, which is
// after the poster has flushed its XTest request.
template <class MakeMessage>
void measure(benchmark::State& state, MakeMessage makeMessage) {
    Session& host = session();
    if (!host.ready()) {
        state.SkipWithError("no X server: run under run-desktop-services.sh --x11");
        return;
    }
    std::vector<double> durations;
    std::size_t iteration = 0;
    for (auto _ : state) {
        Bytes frame = ControlMessageFraming::encode(makeMessage(iteration++));
        const auto start = std::chrono::steady_clock::now();
        host.run(host.control->send(std::move(frame), false));
        const auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        durations.push_back(std::chrono::duration<double, std::nano>(elapsed).count());
        if (iteration % 64 == 0)
            host.sync();
    }
    state.counters["p50_us"] = percentileMicroseconds(durations, 0.50);
    state.counters["p99_us"] = percentileMicroseconds(durations, 0.99);
}

void MouseMoveMessageToFlush(benchmark::State& state) {
    measure(state, [](std::size_t iteration) {
        return StreamControlMessage::make<Case::mouseMove>({iteration % 2 == 0 ? 3.0 : -3.0, 1.0});
    });
}
BENCHMARK(MouseMoveMessageToFlush)->UseManualTime()->Unit(benchmark::kMicrosecond);

void KeyboardEventMessageToFlush(benchmark::State& state) {
    measure(state, [](std::size_t iteration) {
        return StreamControlMessage::make<Case::keyboardEvent>(
            {RemoteKeyboardKey::f13,
             iteration % 2 == 0 ? KeyboardEventPhase::pressed : KeyboardEventPhase::released});
    });
}
BENCHMARK(KeyboardEventMessageToFlush)->UseManualTime()->Unit(benchmark::kMicrosecond);

void MouseClickMessageToFlush(benchmark::State& state) {
    measure(state, [](std::size_t iteration) {
        return StreamControlMessage::make<Case::mouseClick>(
            {MouseButton::forward,
             iteration % 2 == 0 ? MouseButtonPhase::pressed : MouseButtonPhase::released});
    });
}
BENCHMARK(MouseClickMessageToFlush)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quillbridge
