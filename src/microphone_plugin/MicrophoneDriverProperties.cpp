#include <algorithm>
#include <cstring>

#include "microphone_plugin/MicrophoneDiagnostics.hpp"
#include "microphone_plugin/MicrophoneDriver.hpp"

// The driver's property answers: existence, settability, sizes and values, from the four objects' tables.
namespace quillbridge {

using namespace microphone;

MicrophonePropertySnapshot MicrophoneDriver::snapshot() const {
    std::lock_guard lock(stateMutex_);
    return {boxAcquired_, ioRunningCount_ > 0, streamActive_,
            audio_->targetBufferFrames.load(std::memory_order_relaxed)};
}

MicrophonePropertyObject* MicrophoneDriver::createReference(const MicrophonePropertyAnswer& answer) const {
    switch (answer.referenceSource) {
        case MicrophoneReferenceSource::text:
            return MicrophonePropertyObject::createString(answer.text);
        case MicrophoneReferenceSource::boxName: {
            std::lock_guard lock(stateMutex_);
            return MicrophonePropertyObjectRef(boxName_).leak();
        }
        case MicrophoneReferenceSource::emptyData:
            return MicrophonePropertyObject::createData({});
        case MicrophoneReferenceSource::diagnostics:
            return createMicrophoneDiagnosticsDictionary(readMicrophoneDiagnostics(*audio_));
    }
    return nullptr;
}

bool MicrophoneDriver::hasProperty(MicrophoneObjectID objectID,
                                   const MicrophonePropertyAddress* address) const {
    return address != nullptr && microphoneProperty(objectID, *address, snapshot(), std::nullopt).has_value();
}

std::expected<MicrophonePropertyEntry, MicrophoneStatus> MicrophoneDriver::findProperty(
    MicrophoneObjectID objectID, const MicrophonePropertyAddress* address, bool outputsPresent,
    std::optional<std::string_view> qualifierText) const {
    if (!microphoneObjectExists(objectID)) {
        return std::unexpected(status::badObject);
    }
    if (address == nullptr || !outputsPresent) {
        return std::unexpected(status::illegalOperation);
    }
    auto entry = microphoneProperty(objectID, *address, snapshot(), qualifierText);
    if (!entry) {
        return std::unexpected(status::unknownProperty);
    }
    return *entry;
}

MicrophoneStatus MicrophoneDriver::isPropertySettable(MicrophoneObjectID objectID,
                                                      const MicrophonePropertyAddress* address,
                                                      bool* outIsSettable) const {
    auto entry = findProperty(objectID, address, outIsSettable != nullptr, std::nullopt);
    if (!entry) {
        return entry.error();
    }
    *outIsSettable = entry->settable;
    return status::ok;
}

MicrophoneStatus MicrophoneDriver::getPropertyDataSize(MicrophoneObjectID objectID,
                                                       const MicrophonePropertyAddress* address,
                                                       std::uint32_t /*qualifierDataSize*/,
                                                       const void* /*qualifierData*/,
                                                       std::uint32_t* outDataSize) const {
    auto entry = findProperty(objectID, address, outDataSize != nullptr, std::nullopt);
    if (!entry) {
        return entry.error();
    }
    *outDataSize = entry->answer.byteCount();
    return status::ok;
}

MicrophoneStatus MicrophoneDriver::getPropertyData(MicrophoneObjectID objectID,
                                                   const MicrophonePropertyAddress* address,
                                                   std::uint32_t qualifierDataSize, const void* qualifierData,
                                                   std::uint32_t inDataSize, std::uint32_t* outDataSize,
                                                   void* outData) const {
    bool outputsPresent = outDataSize != nullptr && outData != nullptr;
    auto entry = findProperty(objectID, address, outputsPresent, std::nullopt);
    if (!entry) {
        return entry.error();
    }
    // The qualifier is read as a reference only by the properties that take one.
    if (entry->needsQualifier) {
        if (qualifierDataSize != sizeof(void*) || qualifierData == nullptr) {
            return status::badPropertySize;
        }
        entry = findProperty(objectID, address, outputsPresent,
                             microphoneQualifierText(qualifierDataSize, qualifierData));
        if (!entry) {
            return entry.error();
        }
    }
    const MicrophonePropertyAnswer& answer = entry->answer;
    switch (answer.form) {
        case MicrophoneAnswerForm::fixed:
            if (inDataSize < answer.byteCount()) {
                return status::badPropertySize;
            }
            std::memcpy(outData, answer.bytes.data(), answer.byteCount());
            *outDataSize = answer.byteCount();
            return status::ok;
        case MicrophoneAnswerForm::list: {
            std::uint32_t count = std::min(answer.itemCount, inDataSize / answer.itemByteCount);
            std::memcpy(outData, answer.bytes.data(), count * answer.itemByteCount);
            *outDataSize = count * answer.itemByteCount;
            return status::ok;
        }
        case MicrophoneAnswerForm::reference: {
            if (inDataSize < sizeof(void*)) {
                return status::badPropertySize;
            }
            if (objectID == plugInObjectID && address->selector == selector::plugInCustomProperty) {
                const MicrophonePropertyObject* qualifier = nullptr;
                std::memcpy(&qualifier, qualifierData, sizeof(qualifier));
                environment_.writeStandardError(
                    "QuillbridgeMicrophone custom property qualifier: " +
                    (qualifier != nullptr ? qualifier->description() : std::string("(null)")) + "\n");
            }
            MicrophonePropertyObject* object = createReference(answer);
            std::memcpy(outData, &object, sizeof(object));
            *outDataSize = sizeof(object);
            return status::ok;
        }
    }
    return status::unspecified;
}

}  // namespace quillbridge
