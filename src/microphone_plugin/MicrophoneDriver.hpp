#pragma once

#include <atomic>
#include <cstdint>
#include <expected>
#include <initializer_list>
#include <memory>
#include <mutex>

#include "microphone_plugin/MicrophoneAdaptiveReader.hpp"
#include "microphone_plugin/MicrophoneAudioState.hpp"
#include "microphone_plugin/MicrophoneDriverEnvironment.hpp"
#include "microphone_plugin/MicrophoneDriverInterface.hpp"
#include "microphone_plugin/MicrophonePacketWriter.hpp"
#include "microphone_plugin/MicrophonePropertyObject.hpp"
#include "microphone_plugin/MicrophonePropertyTable.hpp"

namespace quillbridge {

// The virtual microphone's driver: the plug-in, its box, the device and the device's input stream, the
// publication lease on the box, device start and stop, the zero time stamp, and the audio path (packets in,
// IO cycles out). The server reaches it through the interface table of reference(); the member functions
// below are what the table calls once the reference has been checked.
//
// Threads: any thread may call the property functions, start and stop; one thread writes packets (the
// property channel's), one thread runs IO cycles (the audio server's real-time thread, which takes no lock
// and allocates nothing). The state lock guards the flags, names, counters and lease; the clock lock guards
// only the zero time stamp. Property-change announcements are made after the state lock is released:
// publication and running changes from the publication queue, identify from the default queue.
class MicrophoneDriver {
public:
    explicit MicrophoneDriver(MicrophoneDriverEnvironment environment);
    ~MicrophoneDriver();
    MicrophoneDriver(const MicrophoneDriver&) = delete;
    MicrophoneDriver& operator=(const MicrophoneDriver&) = delete;

    // The factory: this driver's reference when the plug-in type is asked for, null otherwise. It adds no
    // reference.
    MicrophoneDriverRef create(const void* allocator, const MicrophoneUUIDBytes& requestedType);
    MicrophoneDriverRef reference() const { return &handle_.table; }
    // The driver a reference belongs to, if it is a live driver's.
    static MicrophoneDriver* fromReference(MicrophoneDriverRef driver);

    MicrophoneStatus queryInterface(const MicrophoneUUIDBytes* interfaceID, void** outInterface);
    std::uint32_t addRef();
    std::uint32_t release();
    MicrophoneStatus initialize(MicrophoneDriverHost* host);

    bool hasProperty(MicrophoneObjectID objectID, const MicrophonePropertyAddress* address) const;
    MicrophoneStatus isPropertySettable(MicrophoneObjectID objectID, const MicrophonePropertyAddress* address,
                                        bool* outIsSettable) const;
    MicrophoneStatus getPropertyDataSize(MicrophoneObjectID objectID,
                                         const MicrophonePropertyAddress* address,
                                         std::uint32_t qualifierDataSize, const void* qualifierData,
                                         std::uint32_t* outDataSize) const;
    MicrophoneStatus getPropertyData(MicrophoneObjectID objectID, const MicrophonePropertyAddress* address,
                                     std::uint32_t qualifierDataSize, const void* qualifierData,
                                     std::uint32_t inDataSize, std::uint32_t* outDataSize,
                                     void* outData) const;
    MicrophoneStatus setPropertyData(MicrophoneObjectID objectID, const MicrophonePropertyAddress* address,
                                     std::uint32_t qualifierDataSize, const void* qualifierData,
                                     std::uint32_t inDataSize, const void* inData);

    MicrophoneStatus startIO(MicrophoneObjectID deviceID);
    MicrophoneStatus stopIO(MicrophoneObjectID deviceID);
    MicrophoneStatus getZeroTimeStamp(MicrophoneObjectID deviceID, double* outSampleTime,
                                      std::uint64_t* outHostTime, std::uint64_t* outSeed);
    MicrophoneStatus doIOOperation(MicrophoneObjectID deviceID, MicrophoneObjectID streamID,
                                   std::uint32_t operationID, std::uint32_t bufferFrameSize,
                                   const MicrophoneIOCycleInfo* cycleInfo, void* mainBuffer);

    // Host clock ticks per frame and nanoseconds per tick, from the clock's timebase (set by initialize).
    double hostTicksPerFrame() const { return hostTicksPerFrame_.load(std::memory_order_relaxed); }
    double nanosecondsPerTick() const { return nanosecondsPerTick_.load(std::memory_order_relaxed); }

private:
    // Lets tests reach the reference count and the two locks.
    friend struct MicrophoneDriverTestAccess;

    struct Handle {
        const MicrophoneDriverInterface* table;
        MicrophoneDriver* owner;
    };

    MicrophonePropertySnapshot snapshot() const;
    // The object's entry for the address; '!obj', 'nope' (no address or no place for the answer) or 'who?'.
    std::expected<MicrophonePropertyEntry, MicrophoneStatus> findProperty(
        MicrophoneObjectID objectID, const MicrophonePropertyAddress* address, bool outputsPresent,
        std::optional<std::string_view> qualifierText) const;
    MicrophonePropertyObject* createReference(const MicrophonePropertyAnswer& answer) const;

    MicrophoneStatus setPlugInCustomProperty(std::uint32_t qualifierDataSize, const void* qualifierData,
                                             std::uint32_t inDataSize, const void* inData);
    MicrophoneStatus setBoxAcquired(std::uint32_t inDataSize, const void* inData);
    MicrophoneStatus setBoxName(std::uint32_t inDataSize, const void* inData);
    MicrophoneStatus setBoxIdentify(std::uint32_t inDataSize, const void* inData);
    MicrophoneStatus setStreamActive(std::uint32_t inDataSize, const void* inData);
    MicrophoneStatus writeAudioPacket(std::uint32_t inDataSize, const void* inData);

    // Lease timer: arming and disarming happen under the state lock.
    void armLeaseTimer(std::uint64_t deadlineTicks, std::uint64_t nowTicks);
    void disarmLeaseTimer();
    void leaseTimerFired();
    std::uint64_t leaseDurationTicks() const;

    void announce(MicrophoneObjectID objectID,
                  std::initializer_list<MicrophonePropertyAddress> addresses) const;
    void announcePublicationChange(std::uint64_t generation);
    void announceRunningChange(std::uint64_t generation, bool running);

    MicrophoneDriverEnvironment environment_;
    Handle handle_;

    mutable std::mutex stateMutex_;
    std::uint32_t referenceCount_ = 0;
    MicrophoneDriverHost* host_ = nullptr;
    bool boxAcquired_ = false;
    std::uint64_t leaseDeadlineTicks_ = 0;
    std::uint64_t publicationGeneration_ = 0;
    MicrophonePropertyObjectRef boxName_;
    std::uint64_t ioRunningCount_ = 0;
    bool streamActive_ = true;

    std::mutex clockMutex_;
    std::uint64_t ioStartHostTime_ = 0;
    std::uint64_t periodCounter_ = 0;

    std::atomic<double> hostTicksPerFrame_{0};
    std::atomic<double> nanosecondsPerTick_{1};
    std::atomic<std::uint64_t> leaseTimerGeneration_{0};

    // Each released before the state below it goes; destroying a queue waits for its running task.
    std::unique_ptr<MicrophoneAudioState> audio_;
    std::unique_ptr<MicrophonePacketWriter> writer_;
    std::unique_ptr<MicrophoneAdaptiveReader> reader_;
    std::unique_ptr<MicrophoneTaskQueue> publicationQueue_;
    std::unique_ptr<MicrophoneTaskQueue> utilityQueue_;
    std::unique_ptr<MicrophoneTaskQueue> defaultQueue_;
};

}  // namespace quillbridge
