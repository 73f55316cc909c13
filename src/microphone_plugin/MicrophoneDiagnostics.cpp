#include "microphone_plugin/MicrophoneDiagnostics.hpp"

#include <algorithm>
#include <limits>
#include <string>

#include "virtual_devices/MicrophoneDiagnosticsKeys.hpp"

namespace quillbridge {

namespace {

std::int64_t asSigned(std::uint64_t value) {
    return static_cast<std::int64_t>(
        std::min<std::uint64_t>(value, std::numeric_limits<std::int64_t>::max()));
}

}  // namespace

MicrophoneDiagnostics readMicrophoneDiagnostics(const MicrophoneAudioState& state) {
    MicrophoneDiagnostics diagnostics;
    diagnostics.writeFrames = asSigned(state.writeFrames.load(std::memory_order_relaxed));
    diagnostics.readFrames = asSigned(state.readFrames.load(std::memory_order_relaxed));
    std::uint64_t written = state.writePosition.load(std::memory_order_acquire);
    std::uint64_t read = state.publishedReadPosition.load(std::memory_order_acquire);
    diagnostics.queuedFrames = written > read ? asSigned(written - read) : 0;
    diagnostics.underflows = asSigned(state.underflowCount.load(std::memory_order_relaxed));
    diagnostics.overflows = asSigned(state.overflowCount.load(std::memory_order_relaxed));
    diagnostics.targetFrames =
        static_cast<std::int32_t>(state.targetBufferFrames.load(std::memory_order_relaxed));
    bool resetPending = state.resetGeneration.load(std::memory_order_acquire) !=
                        state.readerResetGeneration.load(std::memory_order_acquire);
    if (auto times = state.renderedTimes.read(); times && !resetPending) {
        diagnostics.renderedSourceTimeNanoseconds = asSigned(times->first);
        diagnostics.renderHostTimeNanoseconds = asSigned(times->second);
    }
    return diagnostics;
}

MicrophonePropertyObject* createMicrophoneDiagnosticsDictionary(const MicrophoneDiagnostics& diagnostics) {
    namespace key = microphone::diagnosticsKey;
    using Width = MicrophoneNumber::Width;
    auto entry = [](std::string_view name, Width width, std::int64_t value) {
        return std::pair{std::string(name), MicrophoneNumber{width, value}};
    };
    return MicrophonePropertyObject::createDictionary({
        entry(key::writeFrames, Width::signed64, diagnostics.writeFrames),
        entry(key::readFrames, Width::signed64, diagnostics.readFrames),
        entry(key::queuedFrames, Width::signed64, diagnostics.queuedFrames),
        entry(key::underflows, Width::signed64, diagnostics.underflows),
        entry(key::overflows, Width::signed64, diagnostics.overflows),
        entry(key::targetFrames, Width::signed32, diagnostics.targetFrames),
        entry(key::renderedSourceTimeNanoseconds, Width::signed64, diagnostics.renderedSourceTimeNanoseconds),
        entry(key::renderHostTimeNanoseconds, Width::signed64, diagnostics.renderHostTimeNanoseconds),
    });
}

}  // namespace quillbridge
