#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "microphone_plugin/MicrophoneDiagnostics.hpp"
#include "microphone_plugin/MicrophoneDriver.hpp"
#include "support/microphone/ManualMicrophoneScheduler.hpp"
#include "support/microphone/RecordingMicrophoneHost.hpp"
#include "virtual_devices/MicrophoneDiagnosticsKeys.hpp"
#include "virtual_devices/MicrophonePacket.hpp"

namespace quillbridge {

struct MicrophoneDriverTestAccess {
    static void setReferenceCount(MicrophoneDriver& driver, std::uint32_t count) {
        std::lock_guard lock(driver.stateMutex_);
        driver.referenceCount_ = count;
    }
    static std::mutex& stateMutex(MicrophoneDriver& driver) { return driver.stateMutex_; }
    static std::mutex& clockMutex(MicrophoneDriver& driver) { return driver.clockMutex_; }
};

// One initialised driver on a manual clock, reached through its interface table as the server reaches it,
// with shorthands for the common calls.
class MicrophoneDriverHarness {
public:
    explicit MicrophoneDriverHarness(std::chrono::nanoseconds leaseDuration = std::chrono::seconds(15),
                                     std::optional<std::string> storedBoxName = std::nullopt)
        : host(std::move(storedBoxName)),
          driver(std::make_unique<MicrophoneDriver>(scheduler.environment(leaseDuration))),
          ref(driver->reference()) {
        table().initialize(ref, &host);
    }

    const MicrophoneDriverInterface& table() const { return **ref; }

    static MicrophonePropertyAddress address(microphone::PropertySelector selector,
                                             microphone::PropertyScope scope = microphone::scope::global,
                                             microphone::PropertyElement element = microphone::mainElement) {
        return {selector, scope, element};
    }

    // Gets a property into a buffer of `capacity` bytes; the bytes written, or the failing status.
    MicrophoneStatus get(MicrophoneObjectID objectID, const MicrophonePropertyAddress& propertyAddress,
                         std::uint32_t capacity, std::vector<std::uint8_t>& bytes,
                         const MicrophonePropertyObject* qualifier = nullptr) const {
        bytes.assign(std::max<std::uint32_t>(capacity, 1), 0);
        std::uint32_t written = 0;
        MicrophoneStatus status = table().getPropertyData(
            ref, objectID, 0, &propertyAddress, qualifier != nullptr ? 8 : 0,
            qualifier != nullptr ? &qualifier : nullptr, capacity, &written, bytes.data());
        bytes.resize(status == 0 ? written : 0);
        return status;
    }

    std::optional<std::uint32_t> u32(MicrophoneObjectID objectID,
                                     const MicrophonePropertyAddress& propertyAddress,
                                     const MicrophonePropertyObject* qualifier = nullptr) const {
        std::vector<std::uint8_t> bytes;
        if (get(objectID, propertyAddress, 4, bytes, qualifier) != 0 || bytes.size() != 4) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        std::memcpy(&value, bytes.data(), 4);
        return value;
    }

    std::vector<MicrophoneObjectID> objects(MicrophoneObjectID objectID,
                                            const MicrophonePropertyAddress& propertyAddress) const {
        std::vector<std::uint8_t> bytes;
        get(objectID, propertyAddress, 64, bytes);
        std::vector<MicrophoneObjectID> list(bytes.size() / 4);
        if (!list.empty()) {
            std::memcpy(list.data(), bytes.data(), list.size() * 4);
        }
        return list;
    }

    // The object a reference property answers with (the caller's reference adopted).
    MicrophonePropertyObjectRef reference(MicrophoneObjectID objectID,
                                          const MicrophonePropertyAddress& propertyAddress) const {
        std::vector<std::uint8_t> bytes;
        if (get(objectID, propertyAddress, 8, bytes) != 0 || bytes.size() != 8) {
            return {};
        }
        MicrophonePropertyObject* object = nullptr;
        std::memcpy(&object, bytes.data(), 8);
        return MicrophonePropertyObjectRef::adopt(object);
    }

    std::optional<std::string> text(MicrophoneObjectID objectID,
                                    const MicrophonePropertyAddress& propertyAddress) const {
        auto object = reference(objectID, propertyAddress);
        if (!object || object->kind() != MicrophonePropertyObject::Kind::string) {
            return std::nullopt;
        }
        return object->text();
    }

    MicrophoneStatus setU32(MicrophoneObjectID objectID, microphone::PropertySelector selector,
                            std::uint32_t value) {
        auto propertyAddress = address(selector);
        return table().setPropertyData(ref, objectID, 0, &propertyAddress, 0, nullptr, 4, &value);
    }

    MicrophoneStatus setReference(MicrophoneObjectID objectID, microphone::PropertySelector selector,
                                  const MicrophonePropertyObject* object) {
        auto propertyAddress = address(selector);
        return table().setPropertyData(ref, objectID, 0, &propertyAddress, 0, nullptr, 8, &object);
    }

    MicrophoneStatus acquire(bool acquired) {
        return setU32(microphone::boxObjectID, microphone::selector::acquired, acquired ? 1 : 0);
    }

    MicrophoneStatus writePacket(const std::vector<std::uint8_t>& packet) {
        auto data = MicrophonePropertyObjectRef::adopt(MicrophonePropertyObject::createData(packet));
        return setReference(microphone::deviceObjectID, microphone::selector::audioPacket, data.get());
    }

    // A packet of the samples in the given stream, with the target and source time.
    MicrophoneStatus writeSamples(const std::vector<float>& samples, std::uint64_t streamIdentifier = 1,
                                  std::uint32_t targetFrames = 1440, std::uint64_t sourceTime = 0,
                                  std::int64_t startHostTime = 0) {
        microphone::MicrophonePacketHeader header{streamIdentifier, startHostTime, sourceTime, 0,
                                                  targetFrames};
        return writePacket(microphone::encodeMicrophonePacket(header, std::span<const float>(samples)));
    }

    // One IO cycle; the output time has a host time when one is given.
    std::vector<float> readInput(std::uint32_t frameCount, std::optional<std::uint64_t> outputHostTime = {}) {
        std::vector<float> output(frameCount, -1.0f);
        MicrophoneIOCycleInfo cycle;
        if (outputHostTime) {
            cycle.outputTime.hostTime = *outputHostTime;
            cycle.outputTime.flags = MicrophoneTimeStamp::hostTimeValid;
        }
        lastIOStatus =
            table().doIOOperation(ref, microphone::deviceObjectID, microphone::inputStreamObjectID, 0,
                                  microphone_io::readInput, frameCount, &cycle, output.data(), nullptr);
        return output;
    }

    MicrophoneStatus startIO() { return table().startIO(ref, microphone::deviceObjectID, 0); }
    MicrophoneStatus stopIO() { return table().stopIO(ref, microphone::deviceObjectID, 0); }

    // The diagnostics property, read back into its fields.
    MicrophoneDiagnostics diagnostics() const {
        namespace key = microphone::diagnosticsKey;
        auto dictionary = reference(microphone::deviceObjectID, address(microphone::selector::diagnostics));
        MicrophoneDiagnostics result;
        if (!dictionary) {
            return result;
        }
        for (const auto& [name, number] : dictionary->entries()) {
            if (name == key::writeFrames)
                result.writeFrames = number.value;
            if (name == key::readFrames)
                result.readFrames = number.value;
            if (name == key::queuedFrames)
                result.queuedFrames = number.value;
            if (name == key::underflows)
                result.underflows = number.value;
            if (name == key::overflows)
                result.overflows = number.value;
            if (name == key::targetFrames)
                result.targetFrames = static_cast<std::int32_t>(number.value);
            if (name == key::renderedSourceTimeNanoseconds)
                result.renderedSourceTimeNanoseconds = number.value;
            if (name == key::renderHostTimeNanoseconds)
                result.renderHostTimeNanoseconds = number.value;
        }
        return result;
    }

    ManualMicrophoneScheduler scheduler;
    RecordingMicrophoneHost host;
    std::unique_ptr<MicrophoneDriver> driver;
    MicrophoneDriverRef ref;
    MicrophoneStatus lastIOStatus = 0;
};

}  // namespace quillbridge
