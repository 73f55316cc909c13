#include "microphone_plugin/MicrophoneDriver.hpp"

#include <array>
#include <limits>

namespace quillbridge {

using namespace microphone;

const MicrophoneDriverInterface& microphoneDriverInterfaceTable();

namespace {

// The references of the live drivers, checked without a lock (the IO path checks its reference too).
std::array<std::atomic<const void*>, 16> liveReferences{};

void registerReference(const void* reference) {
    for (auto& slot : liveReferences) {
        const void* expected = nullptr;
        if (slot.compare_exchange_strong(expected, reference, std::memory_order_acq_rel)) {
            return;
        }
    }
    // More live drivers than slots: this one answers '!obj' to everything, which is a clear refusal.
}

void unregisterReference(const void* reference) {
    for (auto& slot : liveReferences) {
        const void* expected = reference;
        slot.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
    }
}

}  // namespace

MicrophoneDriver::MicrophoneDriver(MicrophoneDriverEnvironment environment)
    : environment_(std::move(environment)),
      handle_{&microphoneDriverInterfaceTable(), this},
      boxName_(MicrophonePropertyObjectRef::adopt(MicrophonePropertyObject::createString(deviceName))),
      audio_(std::make_unique<MicrophoneAudioState>()),
      writer_(std::make_unique<MicrophonePacketWriter>(*audio_)),
      reader_(std::make_unique<MicrophoneAdaptiveReader>(*audio_)) {
    registerReference(reference());
}

MicrophoneDriver::~MicrophoneDriver() {
    unregisterReference(reference());
    // No queued work may run once the driver starts going.
    defaultQueue_.reset();
    utilityQueue_.reset();
    publicationQueue_.reset();
}

MicrophoneDriver* MicrophoneDriver::fromReference(MicrophoneDriverRef driver) {
    if (driver == nullptr) {
        return nullptr;
    }
    for (const auto& slot : liveReferences) {
        if (slot.load(std::memory_order_acquire) == driver) {
            return reinterpret_cast<const Handle*>(driver)->owner;
        }
    }
    return nullptr;
}

MicrophoneDriverRef MicrophoneDriver::create(const void* /*allocator*/,
                                             const MicrophoneUUIDBytes& requestedType) {
    return requestedType == microphone_uuid::plugInType ? reference() : nullptr;
}

MicrophoneStatus MicrophoneDriver::queryInterface(const MicrophoneUUIDBytes* interfaceID,
                                                  void** outInterface) {
    if (interfaceID == nullptr || outInterface == nullptr) {
        return status::illegalOperation;
    }
    if (*interfaceID != microphone_uuid::unknownInterface &&
        *interfaceID != microphone_uuid::driverInterface) {
        return status::noInterface;
    }
    addRef();
    *outInterface = const_cast<void*>(static_cast<const void*>(reference()));
    return status::ok;
}

std::uint32_t MicrophoneDriver::addRef() {
    std::lock_guard lock(stateMutex_);
    if (referenceCount_ < std::numeric_limits<std::uint32_t>::max()) {
        ++referenceCount_;
    }
    return referenceCount_;
}

std::uint32_t MicrophoneDriver::release() {
    std::lock_guard lock(stateMutex_);
    if (referenceCount_ > 0) {
        --referenceCount_;
    }
    return referenceCount_;
}

MicrophoneStatus MicrophoneDriver::initialize(MicrophoneDriverHost* host) {
    std::optional<std::string> storedName =
        host != nullptr ? host->copyFromStorage("box acquired") : std::nullopt;
    {
        std::lock_guard lock(stateMutex_);
        host_ = host;
        boxAcquired_ = false;
        leaseDeadlineTicks_ = 0;
        publicationGeneration_ = 0;
        boxName_ = MicrophonePropertyObjectRef::adopt(
            MicrophonePropertyObject::createString(storedName ? *storedName : std::string(deviceName)));
    }
    MicrophoneTimebase timebase = environment_.clock->timebase();
    double ticksPerNanosecond = static_cast<double>(timebase.denominator) / timebase.numerator;
    hostTicksPerFrame_.store(ticksPerNanosecond * 1e9 / sampleRate, std::memory_order_relaxed);
    nanosecondsPerTick_.store(static_cast<double>(timebase.numerator) / timebase.denominator,
                              std::memory_order_relaxed);
    if (!publicationQueue_) {
        publicationQueue_ = environment_.makeSerialQueue("com.mossharbor.quillbridge.microphone.publication");
        utilityQueue_ = environment_.makeSerialQueue("com.mossharbor.quillbridge.microphone.lease");
        defaultQueue_ = environment_.makeSerialQueue("com.mossharbor.quillbridge.microphone.default");
    }
    return status::ok;
}

MicrophoneStatus MicrophoneDriver::startIO(MicrophoneObjectID deviceID) {
    if (deviceID != deviceObjectID) {
        return status::badObject;
    }
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(stateMutex_);
        if (ioRunningCount_ == std::numeric_limits<std::uint64_t>::max()) {
            return status::illegalOperation;
        }
        if (ioRunningCount_ > 0) {
            ++ioRunningCount_;
            return status::ok;
        }
        ioRunningCount_ = 1;
        {
            std::lock_guard clockLock(clockMutex_);
            periodCounter_ = 0;
            ioStartHostTime_ = environment_.clock->nowHostTicks();
        }
        // The packet writer holds the state lock too, so no packet is half-written across this reset.
        audio_->resetForStartIO();
        generation = publicationGeneration_;
    }
    announceRunningChange(generation, true);
    return status::ok;
}

MicrophoneStatus MicrophoneDriver::stopIO(MicrophoneObjectID deviceID) {
    if (deviceID != deviceObjectID) {
        return status::badObject;
    }
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(stateMutex_);
        if (ioRunningCount_ == 0) {
            return status::illegalOperation;
        }
        if (--ioRunningCount_ > 0) {
            return status::ok;
        }
        generation = publicationGeneration_;
    }
    announceRunningChange(generation, false);
    return status::ok;
}

MicrophoneStatus MicrophoneDriver::getZeroTimeStamp(MicrophoneObjectID deviceID, double* outSampleTime,
                                                    std::uint64_t* outHostTime, std::uint64_t* outSeed) {
    if (deviceID != deviceObjectID) {
        return status::badObject;
    }
    if (outSampleTime == nullptr || outHostTime == nullptr || outSeed == nullptr) {
        return status::illegalOperation;
    }
    double ticksPerPeriod = hostTicksPerFrame() * static_cast<double>(microphoneRingFrameCount);
    std::uint64_t now = environment_.clock->nowHostTicks();
    std::lock_guard lock(clockMutex_);
    std::uint64_t next = periodCounter_ + 1;
    std::uint64_t elapsed = now > ioStartHostTime_ ? now - ioStartHostTime_ : 0;
    if (static_cast<double>(elapsed) >= ticksPerPeriod * static_cast<double>(next)) {
        periodCounter_ = next;
    }
    *outSampleTime = static_cast<double>(periodCounter_ * microphoneRingFrameCount);
    *outHostTime =
        static_cast<std::uint64_t>(static_cast<double>(periodCounter_) * ticksPerPeriod) + ioStartHostTime_;
    *outSeed = 1;
    return status::ok;
}

MicrophoneStatus MicrophoneDriver::doIOOperation(MicrophoneObjectID deviceID, MicrophoneObjectID streamID,
                                                 std::uint32_t operationID, std::uint32_t bufferFrameSize,
                                                 const MicrophoneIOCycleInfo* cycleInfo, void* mainBuffer) {
    if (deviceID != deviceObjectID || streamID != inputStreamObjectID) {
        return status::badObject;
    }
    if (operationID != microphone_io::readInput) {
        return status::ok;
    }
    if (cycleInfo == nullptr || (mainBuffer == nullptr && bufferFrameSize > 0)) {
        return status::illegalOperation;
    }
    reader_->read(bufferFrameSize, cycleInfo->outputTime, nanosecondsPerTick(),
                  static_cast<float*>(mainBuffer));
    return status::ok;
}

}  // namespace quillbridge
