// Host time from an input message's dispatch to its XTest request flushed to the X server (mouse move,
// key press and release, button click), and text entry throughput for a 16 KB paste of mixed scripts.
// Needs an X server: run it under tests/support/run-desktop-services.sh --x11 -- <this program>.
// Median and 99th percentile per operation are printed, not asserted.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/ManualClock.hpp"
#include "input/MacKeyboardInputSourceSwitcher.hpp"
#include "input/MacKeyboardLockController.hpp"
#include "input/RemoteKeyboardController.hpp"
#include "input/RemoteMouseController.hpp"
#include "platform/linux/x11/XTestInputPoster.hpp"
#include "platform/linux/x11/XkbKeyboardLayouts.hpp"
#include "platform/linux/x11/XkbKeyboardLockPort.hpp"
#include "support/FakeDefaultsStore.hpp"

namespace quillbridge {
namespace {

double percentileMicroseconds(std::vector<double> nanoseconds, double fraction) {
    if (nanoseconds.empty())
        return 0;
    const auto index = static_cast<std::size_t>(fraction * (nanoseconds.size() - 1));
    std::nth_element(nanoseconds.begin(), nanoseconds.begin() + index, nanoseconds.end());
    return nanoseconds[index] / 1000;
}

// The controllers on the real X11 adapters, built once.
struct Desktop {
    ManualClock clock;
    FakeDefaultsStore defaults;
    std::unique_ptr<XTestInputPoster> poster = XTestInputPoster::open();
    std::unique_ptr<XkbKeyboardLayouts> layouts = XkbKeyboardLayouts::open();
    std::unique_ptr<RemoteKeyboardController> keyboard;
    std::unique_ptr<RemoteMouseController> mouse;

    Desktop() {
        if (!poster || !layouts)
            return;
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
    }

    // The X server has handled everything sent so far (keeps its queue from growing during the run).
    void sync() {
        auto cookie = xcb_get_input_focus(poster->connection().get());
        XcbReply<xcb_get_input_focus_reply_t> reply(
            xcb_get_input_focus_reply(poster->connection().get(), cookie, nullptr));
    }
};

Desktop& desktop() {
    static Desktop instance;
    return instance;
}

template <class Operation>
void measure(benchmark::State& state, Operation operation) {
    Desktop& host = desktop();
    if (!host.keyboard) {
        state.SkipWithError("no X server: run under run-desktop-services.sh --x11");
        return;
    }
    std::vector<double> durations;
    std::size_t iteration = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        operation(host, iteration++);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        durations.push_back(std::chrono::duration<double, std::nano>(elapsed).count());
        if (iteration % 64 == 0)
            host.sync();
    }
    state.counters["p50_us"] = percentileMicroseconds(durations, 0.50);
    state.counters["p99_us"] = percentileMicroseconds(durations, 0.99);
}

void MouseMoveToFlush(benchmark::State& state) {
    measure(state,
            [](Desktop& host, std::size_t iteration) { host.mouse->moveBy(iteration % 2 == 0 ? 3 : -3, 1); });
}
BENCHMARK(MouseMoveToFlush)->UseManualTime()->Unit(benchmark::kMicrosecond);

void KeyPressToFlush(benchmark::State& state) {
    measure(state, [](Desktop& host, std::size_t iteration) {
        host.keyboard->handleKey(RemoteKeyboardKey::f13, iteration % 2 == 0 ? KeyboardEventPhase::pressed
                                                                            : KeyboardEventPhase::released);
    });
}
BENCHMARK(KeyPressToFlush)->UseManualTime()->Unit(benchmark::kMicrosecond);

void ButtonToFlush(benchmark::State& state) {
    measure(state, [](Desktop& host, std::size_t iteration) {
        host.mouse->handleButton(MouseButton::forward,
                                 iteration % 2 == 0 ? MouseButtonPhase::pressed : MouseButtonPhase::released);
    });
}
BENCHMARK(ButtonToFlush)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A 16 KB paste: Latin, Cyrillic, CJK and emoji, most of it outside the US layout.
std::string mixedPaste() {
    const std::string fragments[] = {"Hello world, ", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 ",
                                     "\xE4\xBD\xA0\xE5\xA5\xBD ", "\xF0\x9F\x98\x80 ", "caf\xC3\xA9\n"};
    std::string text;
    for (std::size_t index = 0;; ++index) {
        const std::string& fragment = fragments[index % std::size(fragments)];
        if (text.size() + fragment.size() > 16384)
            break;
        text += fragment;
    }
    return text;
}

void PasteSixteenKilobytes(benchmark::State& state) {
    Desktop& host = desktop();
    if (!host.keyboard) {
        state.SkipWithError("no X server: run under run-desktop-services.sh --x11");
        return;
    }
    const std::string text = mixedPaste();
    for (auto _ : state) {
        host.keyboard->typeText(text);
        host.sync();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["bytes"] = static_cast<double>(text.size());
}
// Throughput over wall time: typing waits on the X server, which the process's CPU time leaves out.
BENCHMARK(PasteSixteenKilobytes)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace quillbridge
