#include "microphone_plugin/MicrophoneDriver.hpp"

// The interface table: each entry checks the reference and forwards to its driver, answering '!obj' (0 for
// addRef and release, false for hasProperty) for a reference that is not a live driver's.
namespace quillbridge {

using namespace microphone;

namespace {

MicrophoneStatus queryInterface(MicrophoneDriverRef driver, const MicrophoneUUIDBytes* interfaceID,
                                void** outInterface) {
    auto* owner = MicrophoneDriver::fromReference(driver);
    return owner != nullptr ? owner->queryInterface(interfaceID, outInterface) : status::badObject;
}

std::uint32_t addRef(MicrophoneDriverRef driver) {
    auto* owner = MicrophoneDriver::fromReference(driver);
    return owner != nullptr ? owner->addRef() : 0;
}

std::uint32_t release(MicrophoneDriverRef driver) {
    auto* owner = MicrophoneDriver::fromReference(driver);
    return owner != nullptr ? owner->release() : 0;
}

MicrophoneStatus initialize(MicrophoneDriverRef driver, MicrophoneDriverHost* host) {
    auto* owner = MicrophoneDriver::fromReference(driver);
    return owner != nullptr ? owner->initialize(host) : status::badObject;
}

MicrophoneStatus createDevice(MicrophoneDriverRef driver, const void*, const MicrophoneClientInfo*,
                              MicrophoneObjectID*) {
    return MicrophoneDriver::fromReference(driver) != nullptr ? status::unsupportedOperation
                                                              : status::badObject;
}

MicrophoneStatus destroyDevice(MicrophoneDriverRef driver, MicrophoneObjectID) {
    return MicrophoneDriver::fromReference(driver) != nullptr ? status::unsupportedOperation
                                                              : status::badObject;
}

// The operations that only the device answers, doing nothing but saying so.
MicrophoneStatus deviceOnly(MicrophoneDriverRef driver, MicrophoneObjectID deviceID) {
    return MicrophoneDriver::fromReference(driver) != nullptr && deviceID == deviceObjectID
               ? status::ok
               : status::badObject;
}

MicrophoneStatus addDeviceClient(MicrophoneDriverRef driver, MicrophoneObjectID deviceID,
                                 const MicrophoneClientInfo*) {
    return deviceOnly(driver, deviceID);
}

MicrophoneStatus removeDeviceClient(MicrophoneDriverRef driver, MicrophoneObjectID deviceID,
                                    const MicrophoneClientInfo*) {
    return deviceOnly(driver, deviceID);
}

MicrophoneStatus performDeviceConfigurationChange(MicrophoneDriverRef driver, MicrophoneObjectID deviceID,
                                                  std::uint64_t changeAction, void*) {
    MicrophoneStatus result = deviceOnly(driver, deviceID);
    if (result != status::ok) {
        return result;
    }
    return changeAction == 48000 ? status::ok : status::unsupportedOperation;
}

MicrophoneStatus abortDeviceConfigurationChange(MicrophoneDriverRef driver, MicrophoneObjectID deviceID,
                                                std::uint64_t, void*) {
    return deviceOnly(driver, deviceID);
}

bool hasProperty(MicrophoneDriverRef driver, MicrophoneObjectID objectID, std::int32_t,
                 const MicrophonePropertyAddress* address) {
    auto* owner = MicrophoneDriver::fromReference(driver);
    return owner != nullptr && owner->hasProperty(objectID, address);
}

MicrophoneStatus isPropertySettable(MicrophoneDriverRef driver, MicrophoneObjectID objectID, std::int32_t,
                                    const MicrophonePropertyAddress* address, bool* outIsSettable) {
    auto* owner = MicrophoneDriver::fromReference(driver);
    return owner != nullptr ? owner->isPropertySettable(objectID, address, outIsSettable) : status::badObject;
}

MicrophoneStatus getPropertyDataSize(MicrophoneDriverRef driver, MicrophoneObjectID objectID, std::int32_t,
                                     const MicrophonePropertyAddress* address,
                                     std::uint32_t qualifierDataSize, const void* qualifierData,
                                     std::uint32_t* outDataSize) {
    auto* owner = MicrophoneDriver::fromReference(driver);
    return owner != nullptr
               ? owner->getPropertyDataSize(objectID, address, qualifierDataSize, qualifierData, outDataSize)
               : status::badObject;
}

MicrophoneStatus getPropertyData(MicrophoneDriverRef driver, MicrophoneObjectID objectID, std::int32_t,
                                 const MicrophonePropertyAddress* address, std::uint32_t qualifierDataSize,
                                 const void* qualifierData, std::uint32_t inDataSize,
                                 std::uint32_t* outDataSize, void* outData) {
    auto* owner = MicrophoneDriver::fromReference(driver);
    return owner != nullptr ? owner->getPropertyData(objectID, address, qualifierDataSize, qualifierData,
                                                     inDataSize, outDataSize, outData)
                            : status::badObject;
}

MicrophoneStatus setPropertyData(MicrophoneDriverRef driver, MicrophoneObjectID objectID, std::int32_t,
                                 const MicrophonePropertyAddress* address, std::uint32_t qualifierDataSize,
                                 const void* qualifierData, std::uint32_t inDataSize, const void* inData) {
    auto* owner = MicrophoneDriver::fromReference(driver);
    return owner != nullptr ? owner->setPropertyData(objectID, address, qualifierDataSize, qualifierData,
                                                     inDataSize, inData)
                            : status::badObject;
}

MicrophoneStatus startIO(MicrophoneDriverRef driver, MicrophoneObjectID deviceID, std::uint32_t) {
    auto* owner = MicrophoneDriver::fromReference(driver);
    return owner != nullptr ? owner->startIO(deviceID) : status::badObject;
}

MicrophoneStatus stopIO(MicrophoneDriverRef driver, MicrophoneObjectID deviceID, std::uint32_t) {
    auto* owner = MicrophoneDriver::fromReference(driver);
    return owner != nullptr ? owner->stopIO(deviceID) : status::badObject;
}

MicrophoneStatus getZeroTimeStamp(MicrophoneDriverRef driver, MicrophoneObjectID deviceID, std::uint32_t,
                                  double* outSampleTime, std::uint64_t* outHostTime, std::uint64_t* outSeed) {
    auto* owner = MicrophoneDriver::fromReference(driver);
    return owner != nullptr ? owner->getZeroTimeStamp(deviceID, outSampleTime, outHostTime, outSeed)
                            : status::badObject;
}

MicrophoneStatus willDoIOOperation(MicrophoneDriverRef driver, MicrophoneObjectID deviceID, std::uint32_t,
                                   std::uint32_t operationID, bool* outWillDo, bool* outWillDoInPlace) {
    MicrophoneStatus result = deviceOnly(driver, deviceID);
    if (result != status::ok) {
        return result;
    }
    if (outWillDo == nullptr || outWillDoInPlace == nullptr) {
        return status::illegalOperation;
    }
    *outWillDo = operationID == microphone_io::readInput;
    *outWillDoInPlace = true;
    return status::ok;
}

MicrophoneStatus beginOrEndIOOperation(MicrophoneDriverRef driver, MicrophoneObjectID deviceID, std::uint32_t,
                                       std::uint32_t, std::uint32_t, const MicrophoneIOCycleInfo*) {
    return deviceOnly(driver, deviceID);
}

MicrophoneStatus doIOOperation(MicrophoneDriverRef driver, MicrophoneObjectID deviceID,
                               MicrophoneObjectID streamID, std::uint32_t, std::uint32_t operationID,
                               std::uint32_t bufferFrameSize, const MicrophoneIOCycleInfo* cycleInfo,
                               void* mainBuffer, void*) {
    auto* owner = MicrophoneDriver::fromReference(driver);
    return owner != nullptr
               ? owner->doIOOperation(deviceID, streamID, operationID, bufferFrameSize, cycleInfo, mainBuffer)
               : status::badObject;
}

}  // namespace

const MicrophoneDriverInterface& microphoneDriverInterfaceTable() {
    static const MicrophoneDriverInterface table{
        nullptr,
        queryInterface,
        addRef,
        release,
        initialize,
        createDevice,
        destroyDevice,
        addDeviceClient,
        removeDeviceClient,
        performDeviceConfigurationChange,
        abortDeviceConfigurationChange,
        hasProperty,
        isPropertySettable,
        getPropertyDataSize,
        getPropertyData,
        setPropertyData,
        startIO,
        stopIO,
        getZeroTimeStamp,
        willDoIOOperation,
        beginOrEndIOOperation,
        doIOOperation,
        beginOrEndIOOperation,
    };
    return table;
}

}  // namespace quillbridge
