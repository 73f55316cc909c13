#include <cstring>
#include <string>

#include "microphone_plugin/MicrophoneDriver.hpp"
#include "virtual_devices/MicrophonePacket.hpp"

// Setting properties: the publication lease on the box, the box's name and identify, the stream's active
// flag, the plug-in's custom property and the device's audio packets; and the announcements that follow.
namespace quillbridge {

using namespace microphone;

namespace {

std::uint32_t loadUInt32(const void* data) {
    std::uint32_t value = 0;
    std::memcpy(&value, data, sizeof(value));
    return value;
}

// A 32-bit value to set: '!siz' for another size, 'nope' without data.
MicrophoneStatus checkUInt32Data(std::uint32_t inDataSize, const void* inData) {
    if (inDataSize != sizeof(std::uint32_t)) {
        return status::badPropertySize;
    }
    return inData == nullptr ? status::illegalOperation : status::ok;
}

const MicrophonePropertyObject* loadReference(const void* data) {
    const MicrophonePropertyObject* object = nullptr;
    std::memcpy(&object, data, sizeof(object));
    return object;
}

}  // namespace

MicrophoneStatus MicrophoneDriver::setPropertyData(MicrophoneObjectID objectID,
                                                   const MicrophonePropertyAddress* address,
                                                   std::uint32_t qualifierDataSize, const void* qualifierData,
                                                   std::uint32_t inDataSize, const void* inData) {
    if (!microphoneObjectExists(objectID)) {
        return status::badObject;
    }
    if (address == nullptr) {
        return status::illegalOperation;
    }
    switch (objectID) {
        case plugInObjectID:
            if (address->selector == selector::plugInCustomProperty) {
                return setPlugInCustomProperty(qualifierDataSize, qualifierData, inDataSize, inData);
            }
            break;
        case boxObjectID:
            if (address->selector == selector::acquired) {
                return setBoxAcquired(inDataSize, inData);
            }
            if (address->selector == selector::name) {
                return setBoxName(inDataSize, inData);
            }
            if (address->selector == selector::identify) {
                return setBoxIdentify(inDataSize, inData);
            }
            break;
        case deviceObjectID:
            if (address->selector == selector::audioPacket) {
                return writeAudioPacket(inDataSize, inData);
            }
            if (address->selector == selector::nominalSampleRate) {
                return status::unsupportedOperation;
            }
            break;
        case inputStreamObjectID:
            if (address->selector == selector::isActive) {
                return setStreamActive(inDataSize, inData);
            }
            if (address->selector == selector::virtualFormat ||
                address->selector == selector::physicalFormat) {
                return status::unsupportedOperation;
            }
            break;
    }
    return status::unknownProperty;
}

MicrophoneStatus MicrophoneDriver::setPlugInCustomProperty(std::uint32_t qualifierDataSize,
                                                           const void* qualifierData,
                                                           std::uint32_t inDataSize, const void* inData) {
    if (qualifierDataSize != sizeof(void*) || inDataSize != sizeof(void*)) {
        return status::badPropertySize;
    }
    if (qualifierData == nullptr || inData == nullptr) {
        return status::illegalOperation;
    }
    auto describe = [](const MicrophonePropertyObject* object) {
        return object != nullptr ? object->description() : std::string("(null)");
    };
    environment_.writeStandardError("QuillbridgeMicrophone custom property set: qualifier " +
                                    describe(loadReference(qualifierData)) + ", data " +
                                    describe(loadReference(inData)) + "\n");
    return status::ok;
}

std::uint64_t MicrophoneDriver::leaseDurationTicks() const {
    double ticksPerNanosecond = 1.0 / nanosecondsPerTick();
    return static_cast<std::uint64_t>(static_cast<double>(environment_.leaseDuration.count()) *
                                      ticksPerNanosecond);
}

MicrophoneStatus MicrophoneDriver::setBoxAcquired(std::uint32_t inDataSize, const void* inData) {
    if (MicrophoneStatus checked = checkUInt32Data(inDataSize, inData); checked != status::ok) {
        return checked;
    }
    bool acquire = loadUInt32(inData) != 0;
    bool changed = false;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(stateMutex_);
        std::uint64_t now = environment_.clock->nowHostTicks();
        leaseDeadlineTicks_ = acquire ? now + leaseDurationTicks() : 0;
        changed = boxAcquired_ != acquire;
        if (changed) {
            boxAcquired_ = acquire;
            ++publicationGeneration_;
        }
        generation = publicationGeneration_;
        if (acquire) {
            armLeaseTimer(leaseDeadlineTicks_, now);
        } else {
            disarmLeaseTimer();
        }
    }
    if (changed) {
        announcePublicationChange(generation);
    }
    return status::ok;
}

void MicrophoneDriver::armLeaseTimer(std::uint64_t deadlineTicks, std::uint64_t nowTicks) {
    std::uint64_t timer = leaseTimerGeneration_.fetch_add(1, std::memory_order_acq_rel) + 1;
    auto delay = std::chrono::nanoseconds(static_cast<std::int64_t>(
        static_cast<double>(deadlineTicks > nowTicks ? deadlineTicks - nowTicks : 0) * nanosecondsPerTick()));
    if (utilityQueue_) {
        utilityQueue_->postAfter(delay, [this, timer] {
            if (leaseTimerGeneration_.load(std::memory_order_acquire) == timer) {
                leaseTimerFired();
            }
        });
    }
}

void MicrophoneDriver::disarmLeaseTimer() {
    leaseTimerGeneration_.fetch_add(1, std::memory_order_acq_rel);
}

void MicrophoneDriver::leaseTimerFired() {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(stateMutex_);
        if (!boxAcquired_ || leaseDeadlineTicks_ == 0) {
            return;
        }
        std::uint64_t now = environment_.clock->nowHostTicks();
        if (now < leaseDeadlineTicks_) {
            // Woken before the deadline (a coarse timer): wait for the rest rather than keep the lease
            // forever.
            armLeaseTimer(leaseDeadlineTicks_, now);
            return;
        }
        boxAcquired_ = false;
        leaseDeadlineTicks_ = 0;
        generation = ++publicationGeneration_;
        disarmLeaseTimer();
    }
    announcePublicationChange(generation);
}

MicrophoneStatus MicrophoneDriver::setBoxName(std::uint32_t inDataSize, const void* inData) {
    if (inDataSize != sizeof(void*)) {
        return status::badPropertySize;
    }
    const MicrophonePropertyObject* name = inData != nullptr ? loadReference(inData) : nullptr;
    if (name == nullptr || name->kind() != MicrophonePropertyObject::Kind::string) {
        return status::illegalOperation;
    }
    {
        std::lock_guard lock(stateMutex_);
        boxName_ = MicrophonePropertyObjectRef::retain(const_cast<MicrophonePropertyObject*>(name));
    }
    announce(boxObjectID, {{selector::name, scope::global, mainElement}});
    return status::ok;
}

MicrophoneStatus MicrophoneDriver::setBoxIdentify(std::uint32_t inDataSize, const void* inData) {
    environment_.logNotice(
        "The identify property has been set on the Box implemented by the QuillbridgeMicrophone driver.");
    if (MicrophoneStatus checked = checkUInt32Data(inDataSize, inData); checked != status::ok) {
        return checked;
    }
    if (defaultQueue_) {
        defaultQueue_->postAfter(std::chrono::seconds(2), [this] {
            announce(boxObjectID, {{selector::identify, scope::global, mainElement}});
        });
    }
    return status::ok;
}

MicrophoneStatus MicrophoneDriver::setStreamActive(std::uint32_t inDataSize, const void* inData) {
    if (MicrophoneStatus checked = checkUInt32Data(inDataSize, inData); checked != status::ok) {
        return checked;
    }
    bool active = loadUInt32(inData) != 0;
    {
        std::lock_guard lock(stateMutex_);
        streamActive_ = active;
    }
    announce(inputStreamObjectID, {{selector::isActive, scope::global, mainElement}});
    return status::ok;
}

MicrophoneStatus MicrophoneDriver::writeAudioPacket(std::uint32_t inDataSize, const void* inData) {
    if (inDataSize != sizeof(void*)) {
        return status::badPropertySize;
    }
    const MicrophonePropertyObject* packet = inData != nullptr ? loadReference(inData) : nullptr;
    if (packet == nullptr || packet->kind() != MicrophonePropertyObject::Kind::data) {
        return status::illegalOperation;
    }
    auto header = readMicrophonePacketHeader(packet->bytes());
    if (!header) {
        return header.error() == MicrophonePacketRefusal::wrongMagicOrVersion ? status::illegalOperation
                                                                              : status::badPropertySize;
    }
    // Under the state lock: the start of IO resets the positions under it too.
    std::lock_guard lock(stateMutex_);
    writer_->write(*header, microphonePacketSampleBytes(packet->bytes()));
    return status::ok;
}

void MicrophoneDriver::announce(MicrophoneObjectID objectID,
                                std::initializer_list<MicrophonePropertyAddress> addresses) const {
    MicrophoneDriverHost* host = nullptr;
    {
        std::lock_guard lock(stateMutex_);
        host = host_;
    }
    if (host != nullptr) {
        host->propertiesChanged(objectID, std::span(addresses.begin(), addresses.size()));
    }
}

void MicrophoneDriver::announcePublicationChange(std::uint64_t generation) {
    if (!publicationQueue_) {
        return;
    }
    publicationQueue_->post([this, generation] {
        {
            std::lock_guard lock(stateMutex_);
            if (publicationGeneration_ != generation) {
                return;
            }
        }
        announce(boxObjectID, {{selector::acquired, scope::global, mainElement},
                               {selector::boxDeviceList, scope::global, mainElement}});
        announce(plugInObjectID, {{selector::deviceList, scope::global, mainElement}});
    });
}

void MicrophoneDriver::announceRunningChange(std::uint64_t generation, bool running) {
    if (!publicationQueue_) {
        return;
    }
    publicationQueue_->post([this, generation, running] {
        {
            std::lock_guard lock(stateMutex_);
            if (!boxAcquired_ || publicationGeneration_ != generation || (ioRunningCount_ > 0) != running) {
                return;
            }
        }
        announce(deviceObjectID, {{selector::isRunning, scope::global, mainElement}});
    });
}

}  // namespace quillbridge
