#include "microphone_plugin/MicrophoneAudioState.hpp"
#include "microphone_plugin/MicrophonePropertyStructures.hpp"
#include "microphone_plugin/MicrophonePropertyTable.hpp"

namespace quillbridge {

using namespace microphone;

namespace {

using Answer = MicrophonePropertyAnswer;
using Source = MicrophoneReferenceSource;

MicrophonePropertyEntry entry(MicrophonePropertyAnswer answer, bool settable = false) {
    return {answer, settable, false};
}

// The properties that exist in one scope only (or, for the element name, for two elements only).
bool existsAt(const MicrophonePropertyAddress& address) {
    switch (address.selector) {
        case selector::safetyOffset:
        case selector::latency:
        case selector::preferredChannelLayout:
        case selector::canBeDefaultDevice:
        case selector::canBeDefaultSystemDevice:
            return address.scope == scope::input;
        case selector::clockIsStable:
        case selector::clockAlgorithm:
            return address.scope == scope::global;
        case selector::elementName:
            return address.element <= 1;
        default:
            return true;
    }
}

MicrophoneChannelLayout monoLayout() {
    MicrophoneChannelLayout layout;
    layout.layoutTag = MicrophoneChannelLayout::tagUseChannelDescriptions;
    layout.numberChannelDescriptions = 1;
    layout.descriptions[0].label = MicrophoneChannelDescription::labelMono;
    return layout;
}

std::string_view elementName(PropertyElement element) {
    switch (element) {
        case 0:
            return "MasterElementName";
        case 1:
            return "MonoElementName";
        default:
            return "UnknownElementName";
    }
}

}  // namespace

std::optional<MicrophonePropertyEntry> microphoneDeviceProperty(const MicrophonePropertyAddress& address,
                                                                const MicrophonePropertySnapshot& snapshot) {
    static constexpr MicrophoneValueRange sampleRates[] = {{sampleRate, sampleRate}};
    static constexpr MicrophoneCustomPropertyInfo customProperties[] = {
        {selector::diagnostics, microphoneCustomTypePropertyList, 0},
        {selector::audioPacket, microphoneCustomTypePropertyList, 0}};
    if (!existsAt(address)) {
        return std::nullopt;
    }
    switch (address.selector) {
        case selector::baseClass:
            return entry(Answer::unsigned32(classID::object));
        case selector::objectClass:
            return entry(Answer::unsigned32(classID::device));
        case selector::owner:
            return entry(Answer::unsigned32(plugInObjectID));
        case selector::name:
            return entry(Answer::reference(Source::text, "DeviceName"));
        case selector::manufacturer:
            return entry(Answer::reference(Source::text, manufacturerName));
        case selector::deviceUID:
            return entry(Answer::reference(Source::text, microphone::deviceUID));
        case selector::modelUID:
            return entry(Answer::reference(Source::text, deviceModelUID));
        case selector::transportType:
            return entry(Answer::unsigned32(fourCharCode("virt")));
        case selector::relatedDevices:
            return entry(Answer::objectList({deviceObjectID}));
        case selector::clockDomain:
        case selector::isHidden:
        case selector::safetyOffset:
        case selector::clockIsStable:
        case selector::clockAlgorithm:
            return entry(Answer::unsigned32(0));
        case selector::isAlive:
        case selector::canBeDefaultDevice:
        case selector::canBeDefaultSystemDevice:
            return entry(Answer::unsigned32(1));
        case selector::isRunning:
            return entry(Answer::unsigned32(snapshot.running ? 1 : 0));
        case selector::latency:
            return entry(Answer::unsigned32(snapshot.targetFrames));
        case selector::controlList:
            return entry(Answer::objectList({}));
        case selector::zeroTimeStampPeriod:
            return entry(Answer::unsigned32(static_cast<std::uint32_t>(microphoneRingFrameCount)));
        case selector::nominalSampleRate:
            return entry(Answer::float64(sampleRate));
        case selector::availableSampleRates:
            return entry(Answer::structureList(std::span(sampleRates)));
        case selector::preferredChannelLayout:
            return entry(Answer::structure(monoLayout()));
        case selector::elementName:
            return entry(Answer::reference(Source::text, elementName(address.element)));
        case selector::streamList:
        case selector::ownedObjects:
            return entry(address.scope == scope::global || address.scope == scope::input
                             ? Answer::objectList({inputStreamObjectID})
                             : Answer::objectList({}));
        case selector::customPropertyInfoList:
            return entry(Answer::structureList(std::span(customProperties)));
        case selector::audioPacket:
            return entry(Answer::reference(Source::emptyData), true);
        case selector::diagnostics:
            return entry(Answer::reference(Source::diagnostics));
        default:
            return std::nullopt;
    }
}

}  // namespace quillbridge
