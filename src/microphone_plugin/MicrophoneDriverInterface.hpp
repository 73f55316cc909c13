#pragma once

#include <cstdint>

#include "microphone_plugin/MicrophoneDriverTypes.hpp"

namespace quillbridge {

struct MicrophoneDriverInterface;
// A driver reference points at the driver's pointer to its interface table.
using MicrophoneDriverRef = const MicrophoneDriverInterface* const*;

// The driver interface table, one function per operation, in the order the server expects. Every function
// first checks that the reference is this driver's (else '!obj'; addRef and release answer 0 and
// hasProperty false).
struct MicrophoneDriverInterface {
    void* reserved = nullptr;
    MicrophoneStatus (*queryInterface)(MicrophoneDriverRef driver, const MicrophoneUUIDBytes* interfaceID,
                                       void** outInterface);
    std::uint32_t (*addRef)(MicrophoneDriverRef driver);
    std::uint32_t (*release)(MicrophoneDriverRef driver);
    MicrophoneStatus (*initialize)(MicrophoneDriverRef driver, MicrophoneDriverHost* host);
    MicrophoneStatus (*createDevice)(MicrophoneDriverRef driver, const void* description,
                                     const MicrophoneClientInfo* clientInfo, MicrophoneObjectID* outDeviceID);
    MicrophoneStatus (*destroyDevice)(MicrophoneDriverRef driver, MicrophoneObjectID deviceID);
    MicrophoneStatus (*addDeviceClient)(MicrophoneDriverRef driver, MicrophoneObjectID deviceID,
                                        const MicrophoneClientInfo* clientInfo);
    MicrophoneStatus (*removeDeviceClient)(MicrophoneDriverRef driver, MicrophoneObjectID deviceID,
                                           const MicrophoneClientInfo* clientInfo);
    MicrophoneStatus (*performDeviceConfigurationChange)(MicrophoneDriverRef driver,
                                                         MicrophoneObjectID deviceID,
                                                         std::uint64_t changeAction, void* changeInfo);
    MicrophoneStatus (*abortDeviceConfigurationChange)(MicrophoneDriverRef driver,
                                                       MicrophoneObjectID deviceID,
                                                       std::uint64_t changeAction, void* changeInfo);
    bool (*hasProperty)(MicrophoneDriverRef driver, MicrophoneObjectID objectID, std::int32_t clientProcessID,
                        const MicrophonePropertyAddress* address);
    MicrophoneStatus (*isPropertySettable)(MicrophoneDriverRef driver, MicrophoneObjectID objectID,
                                           std::int32_t clientProcessID,
                                           const MicrophonePropertyAddress* address, bool* outIsSettable);
    MicrophoneStatus (*getPropertyDataSize)(MicrophoneDriverRef driver, MicrophoneObjectID objectID,
                                            std::int32_t clientProcessID,
                                            const MicrophonePropertyAddress* address,
                                            std::uint32_t qualifierDataSize, const void* qualifierData,
                                            std::uint32_t* outDataSize);
    MicrophoneStatus (*getPropertyData)(MicrophoneDriverRef driver, MicrophoneObjectID objectID,
                                        std::int32_t clientProcessID,
                                        const MicrophonePropertyAddress* address,
                                        std::uint32_t qualifierDataSize, const void* qualifierData,
                                        std::uint32_t inDataSize, std::uint32_t* outDataSize, void* outData);
    MicrophoneStatus (*setPropertyData)(MicrophoneDriverRef driver, MicrophoneObjectID objectID,
                                        std::int32_t clientProcessID,
                                        const MicrophonePropertyAddress* address,
                                        std::uint32_t qualifierDataSize, const void* qualifierData,
                                        std::uint32_t inDataSize, const void* inData);
    MicrophoneStatus (*startIO)(MicrophoneDriverRef driver, MicrophoneObjectID deviceID,
                                std::uint32_t clientID);
    MicrophoneStatus (*stopIO)(MicrophoneDriverRef driver, MicrophoneObjectID deviceID,
                               std::uint32_t clientID);
    MicrophoneStatus (*getZeroTimeStamp)(MicrophoneDriverRef driver, MicrophoneObjectID deviceID,
                                         std::uint32_t clientID, double* outSampleTime,
                                         std::uint64_t* outHostTime, std::uint64_t* outSeed);
    MicrophoneStatus (*willDoIOOperation)(MicrophoneDriverRef driver, MicrophoneObjectID deviceID,
                                          std::uint32_t clientID, std::uint32_t operationID, bool* outWillDo,
                                          bool* outWillDoInPlace);
    MicrophoneStatus (*beginIOOperation)(MicrophoneDriverRef driver, MicrophoneObjectID deviceID,
                                         std::uint32_t clientID, std::uint32_t operationID,
                                         std::uint32_t bufferFrameSize,
                                         const MicrophoneIOCycleInfo* cycleInfo);
    MicrophoneStatus (*doIOOperation)(MicrophoneDriverRef driver, MicrophoneObjectID deviceID,
                                      MicrophoneObjectID streamID, std::uint32_t clientID,
                                      std::uint32_t operationID, std::uint32_t bufferFrameSize,
                                      const MicrophoneIOCycleInfo* cycleInfo, void* mainBuffer,
                                      void* secondaryBuffer);
    MicrophoneStatus (*endIOOperation)(MicrophoneDriverRef driver, MicrophoneObjectID deviceID,
                                       std::uint32_t clientID, std::uint32_t operationID,
                                       std::uint32_t bufferFrameSize, const MicrophoneIOCycleInfo* cycleInfo);
};

}  // namespace quillbridge
