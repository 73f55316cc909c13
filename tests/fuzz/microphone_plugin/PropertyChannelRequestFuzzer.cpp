// Feeds arbitrary bytes to the microphone program's property channel as a client would: decoding, value
// conversion and the driver's property calls (packets included) must answer every input without crashing,
// leaking or reading out of bounds.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "microphone_plugin/MicrophoneDriver.hpp"
#include "microphone_plugin/MicrophonePropertyChannelHandler.hpp"

using namespace quillbridge;

namespace {

// Time stands still and queued work is dropped: only the request paths run.
class StillClock final : public MicrophoneClock {
public:
    std::uint64_t nowHostTicks() const override { return 1'000'000'000; }
    MicrophoneTimebase timebase() const override { return {}; }
};

class DroppingQueue final : public MicrophoneTaskQueue {
public:
    void post(std::function<void()>) override {}
    void postAfter(std::chrono::nanoseconds, std::function<void()>) override {}
};

class SilentHost final : public MicrophoneDriverHost {
public:
    MicrophoneStatus propertiesChanged(MicrophoneObjectID,
                                       std::span<const MicrophonePropertyAddress>) override {
        return 0;
    }
    std::optional<std::string> copyFromStorage(std::string_view) override { return std::nullopt; }
};

struct Fixture {
    Fixture() {
        MicrophoneDriverEnvironment environment;
        environment.clock = &clock;
        environment.makeSerialQueue = [](std::string_view) { return std::make_unique<DroppingQueue>(); };
        environment.logNotice = [](std::string_view) {};
        environment.writeStandardError = [](std::string_view) {};
        driver = std::make_unique<MicrophoneDriver>(std::move(environment));
        (**driver->reference()).initialize(driver->reference(), &host);
        handler = std::make_unique<MicrophonePropertyChannelHandler>(driver->reference());
    }
    StillClock clock;
    SilentHost host;
    std::unique_ptr<MicrophoneDriver> driver;
    std::unique_ptr<MicrophonePropertyChannelHandler> handler;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    auto response = fixture.handler->handleMessage(std::span<const std::uint8_t>(data, size), 0);
    if (!microphone::encodePropertyChannelMessage(response)) {
        std::abort();
    }
    return 0;
}
