#include "microphone_plugin/MicrophonePropertyTable.hpp"

#include <vector>

#include "microphone_plugin/MicrophonePropertyStructures.hpp"

namespace quillbridge {

using namespace microphone;

std::uint32_t MicrophonePropertyAnswer::byteCount() const {
    return form == MicrophoneAnswerForm::reference ? sizeof(void*) : itemByteCount * itemCount;
}

MicrophonePropertyAnswer MicrophonePropertyAnswer::objectList(
    std::initializer_list<MicrophoneObjectID> objects) {
    return structureList(std::span(objects.begin(), objects.size()));
}

MicrophonePropertyAnswer MicrophonePropertyAnswer::reference(MicrophoneReferenceSource source,
                                                             std::string_view text) {
    MicrophonePropertyAnswer answer;
    answer.form = MicrophoneAnswerForm::reference;
    answer.itemByteCount = sizeof(void*);
    answer.referenceSource = source;
    answer.text = text;
    return answer;
}

std::optional<std::string_view> microphoneQualifierText(std::uint32_t qualifierDataSize,
                                                        const void* qualifierData) {
    if (qualifierDataSize != sizeof(void*) || qualifierData == nullptr) {
        return std::nullopt;
    }
    const MicrophonePropertyObject* object = nullptr;
    std::memcpy(&object, qualifierData, sizeof(object));
    if (object == nullptr || object->kind() != MicrophonePropertyObject::Kind::string) {
        return std::nullopt;
    }
    return object->text();
}

namespace {

MicrophonePropertyEntry entry(MicrophonePropertyAnswer answer, bool settable = false,
                              bool needsQualifier = false) {
    return {answer, settable, needsQualifier};
}

}  // namespace

std::optional<MicrophonePropertyEntry> microphonePlugInProperty(
    const MicrophonePropertyAddress& address, const MicrophonePropertySnapshot& snapshot,
    std::optional<std::string_view> qualifierText) {
    using Answer = MicrophonePropertyAnswer;
    using Source = MicrophoneReferenceSource;
    static constexpr MicrophoneCustomPropertyInfo customProperties[] = {
        {selector::plugInCustomProperty, microphoneCustomTypeString, microphoneCustomTypePropertyList}};
    switch (address.selector) {
        case selector::baseClass:
            return entry(Answer::unsigned32(classID::object));
        case selector::objectClass:
            return entry(Answer::unsigned32(classID::plugIn));
        case selector::owner:
            return entry(Answer::unsigned32(unknownObjectID));
        case selector::manufacturer:
            return entry(Answer::reference(Source::text, manufacturerName));
        case selector::resourceBundle:
            return entry(Answer::reference(Source::text, ""));
        case selector::boxList:
            return entry(Answer::objectList({boxObjectID}));
        case selector::deviceList:
            return entry(snapshot.boxAcquired ? Answer::objectList({deviceObjectID})
                                              : Answer::objectList({}));
        case selector::ownedObjects:
            return entry(snapshot.boxAcquired ? Answer::objectList({boxObjectID, deviceObjectID})
                                              : Answer::objectList({boxObjectID}));
        case selector::translateUIDToBox:
            return entry(
                Answer::unsigned32(qualifierText == microphone::boxUID ? boxObjectID : unknownObjectID),
                false, true);
        case selector::translateUIDToDevice:
            return entry(Answer::unsigned32(snapshot.boxAcquired && qualifierText == microphone::deviceUID
                                                ? deviceObjectID
                                                : unknownObjectID),
                         false, true);
        case selector::customPropertyInfoList:
            return entry(Answer::structureList(std::span(customProperties)));
        case selector::plugInCustomProperty:
            return entry(Answer::reference(Source::text, "QuillbridgeMicrophone PlugIn Custom Property"),
                         true, true);
        default:
            return std::nullopt;
    }
}

std::optional<MicrophonePropertyEntry> microphoneBoxProperty(const MicrophonePropertyAddress& address,
                                                             const MicrophonePropertySnapshot& snapshot) {
    using Answer = MicrophonePropertyAnswer;
    using Source = MicrophoneReferenceSource;
    switch (address.selector) {
        case selector::baseClass:
            return entry(Answer::unsigned32(classID::object));
        case selector::objectClass:
            return entry(Answer::unsigned32(classID::box));
        case selector::owner:
            return entry(Answer::unsigned32(plugInObjectID));
        case selector::boxUID:
            return entry(Answer::reference(Source::text, microphone::boxUID));
        case selector::transportType:
            return entry(Answer::unsigned32(fourCharCode("virt")));
        case selector::hasAudio:
            return entry(Answer::unsigned32(1));
        case selector::hasVideo:
        case selector::hasMIDI:
        case selector::isProtected:
        case selector::acquisitionFailed:
            return entry(Answer::unsigned32(0));
        case selector::identify:
            return entry(Answer::unsigned32(0), true);
        case selector::acquired:
            return entry(Answer::unsigned32(snapshot.boxAcquired ? 1 : 0), true);
        case selector::boxDeviceList:
            return entry(snapshot.boxAcquired ? Answer::objectList({deviceObjectID})
                                              : Answer::objectList({}));
        case selector::name:
            return entry(Answer::reference(Source::boxName), true);
        case selector::modelName:
            return entry(Answer::reference(Source::text, deviceName));
        case selector::manufacturer:
            return entry(Answer::reference(Source::text, manufacturerName));
        case selector::serialNumber:
            return entry(Answer::reference(Source::text, "00000001"));
        case selector::firmwareVersion:
            return entry(Answer::reference(Source::text, "1.0"));
        case selector::ownedObjects:
            return entry(Answer::objectList({}));
        default:
            return std::nullopt;
    }
}

std::optional<MicrophonePropertyEntry> microphoneStreamProperty(const MicrophonePropertyAddress& address,
                                                                const MicrophonePropertySnapshot& snapshot) {
    using Answer = MicrophonePropertyAnswer;
    using Source = MicrophoneReferenceSource;
    static constexpr MicrophoneStreamRangedDescription rangedFormats[] = {
        {microphoneStreamFormat(), {microphone::sampleRate, microphone::sampleRate}}};
    switch (address.selector) {
        case selector::baseClass:
            return entry(Answer::unsigned32(classID::object));
        case selector::objectClass:
            return entry(Answer::unsigned32(classID::stream));
        case selector::owner:
            return entry(Answer::unsigned32(deviceObjectID));
        case selector::name:
            return entry(Answer::reference(Source::text, "InputStreamName"));
        case selector::direction:
        case selector::startingChannel:
            return entry(Answer::unsigned32(1));
        case selector::terminalType:
            return entry(Answer::unsigned32(fourCharCode("micr")));
        case selector::latency:
            return entry(Answer::unsigned32(0));
        case selector::ownedObjects:
            return entry(Answer::objectList({}));
        case selector::isActive:
            return entry(Answer::unsigned32(snapshot.streamActive ? 1 : 0), true);
        case selector::virtualFormat:
        case selector::physicalFormat:
            return entry(Answer::structure(microphoneStreamFormat()));
        case selector::availableVirtualFormats:
        case selector::availablePhysicalFormats:
            return entry(Answer::structureList(std::span(rangedFormats)));
        default:
            return std::nullopt;
    }
}

bool microphoneObjectExists(MicrophoneObjectID objectID) {
    return objectID >= plugInObjectID && objectID <= inputStreamObjectID;
}

std::optional<MicrophonePropertyEntry> microphoneProperty(MicrophoneObjectID objectID,
                                                          const MicrophonePropertyAddress& address,
                                                          const MicrophonePropertySnapshot& snapshot,
                                                          std::optional<std::string_view> qualifierText) {
    switch (objectID) {
        case plugInObjectID:
            return microphonePlugInProperty(address, snapshot, qualifierText);
        case boxObjectID:
            return microphoneBoxProperty(address, snapshot);
        case deviceObjectID:
            return microphoneDeviceProperty(address, snapshot);
        case inputStreamObjectID:
            return microphoneStreamProperty(address, snapshot);
        default:
            return std::nullopt;
    }
}

}  // namespace quillbridge
