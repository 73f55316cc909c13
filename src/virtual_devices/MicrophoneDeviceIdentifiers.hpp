#pragma once

#include <cstdint>
#include <string_view>

// What the host and the microphone program agree on: the four objects of the virtual microphone, their
// identifiers and names, the property selectors, scopes and status codes, and where the property channel
// listens. Host times exchanged with the microphone program are CLOCK_MONOTONIC nanoseconds.
namespace quillbridge::microphone {

// A four-character code packed big-end first, as property selectors, classes and statuses are written.
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

using ObjectID = std::uint32_t;
using PropertySelector = std::uint32_t;
using PropertyScope = std::uint32_t;
using PropertyElement = std::uint32_t;
using Status = std::int32_t;

inline constexpr ObjectID unknownObjectID = 0;
inline constexpr ObjectID plugInObjectID = 1;
inline constexpr ObjectID boxObjectID = 2;
inline constexpr ObjectID deviceObjectID = 3;
inline constexpr ObjectID inputStreamObjectID = 4;

inline constexpr std::string_view boxUID = "com.mossharbor.quillbridge.microphone.box";
inline constexpr std::string_view deviceUID = "com.mossharbor.quillbridge.microphone.device.v2";
inline constexpr std::string_view deviceModelUID = "com.mossharbor.quillbridge.microphone.model.v2";
inline constexpr std::string_view deviceName = "Quillbridge Microphone";
inline constexpr std::string_view manufacturerName = "Moss Harbor";

inline constexpr double sampleRate = 48000.0;
inline constexpr std::uint32_t channelCount = 1;

// The property channel: a SOCK_SEQPACKET socket of this name in $XDG_RUNTIME_DIR, open to the same user only.
inline constexpr std::string_view propertyChannelSocketName = "quillbridge-microphone.socket";

namespace scope {
inline constexpr PropertyScope global = fourCharCode("glob");
inline constexpr PropertyScope input = fourCharCode("inpt");
inline constexpr PropertyScope output = fourCharCode("outp");
}  // namespace scope

inline constexpr PropertyElement mainElement = 0;

namespace status {
inline constexpr Status ok = 0;
inline constexpr Status badObject = fourCharCode("!obj");
inline constexpr Status unknownProperty = fourCharCode("who?");
inline constexpr Status badPropertySize = fourCharCode("!siz");
inline constexpr Status illegalOperation = fourCharCode("nope");
inline constexpr Status unsupportedOperation = fourCharCode("unop");
inline constexpr Status unspecified = fourCharCode("what");
// The interface query's answer for an interface the driver does not have.
inline constexpr Status noInterface = Status(std::uint32_t{0x80000004});
}  // namespace status

namespace classID {
inline constexpr std::uint32_t object = fourCharCode("aobj");
inline constexpr std::uint32_t plugIn = fourCharCode("aplg");
inline constexpr std::uint32_t box = fourCharCode("abox");
inline constexpr std::uint32_t device = fourCharCode("adev");
inline constexpr std::uint32_t stream = fourCharCode("astr");
}  // namespace classID

namespace selector {
// Every object.
inline constexpr PropertySelector baseClass = fourCharCode("bcls");
inline constexpr PropertySelector objectClass = fourCharCode("clas");
inline constexpr PropertySelector owner = fourCharCode("stdv");
inline constexpr PropertySelector name = fourCharCode("lnam");
inline constexpr PropertySelector manufacturer = fourCharCode("lmak");
inline constexpr PropertySelector ownedObjects = fourCharCode("ownd");
inline constexpr PropertySelector customPropertyInfoList = fourCharCode("cust");
// Plug-in.
inline constexpr PropertySelector resourceBundle = fourCharCode("rsrc");
inline constexpr PropertySelector boxList = fourCharCode("box#");
inline constexpr PropertySelector deviceList = fourCharCode("dev#");
inline constexpr PropertySelector translateUIDToBox = fourCharCode("uidb");
inline constexpr PropertySelector translateUIDToDevice = fourCharCode("uidd");
inline constexpr PropertySelector plugInCustomProperty = fourCharCode("PCst");
// Box.
inline constexpr PropertySelector boxUID = fourCharCode("buid");
inline constexpr PropertySelector transportType = fourCharCode("tran");
inline constexpr PropertySelector hasAudio = fourCharCode("bhau");
inline constexpr PropertySelector hasVideo = fourCharCode("bhvi");
inline constexpr PropertySelector hasMIDI = fourCharCode("bhmi");
inline constexpr PropertySelector isProtected = fourCharCode("bpro");
inline constexpr PropertySelector acquired = fourCharCode("bxon");
inline constexpr PropertySelector acquisitionFailed = fourCharCode("bxof");
inline constexpr PropertySelector boxDeviceList = fourCharCode("bdv#");
inline constexpr PropertySelector identify = fourCharCode("iden");
inline constexpr PropertySelector modelName = fourCharCode("lmod");
inline constexpr PropertySelector serialNumber = fourCharCode("snum");
inline constexpr PropertySelector firmwareVersion = fourCharCode("fwvn");
// Device.
inline constexpr PropertySelector deviceUID = fourCharCode("uid ");
inline constexpr PropertySelector modelUID = fourCharCode("muid");
inline constexpr PropertySelector relatedDevices = fourCharCode("akin");
inline constexpr PropertySelector clockDomain = fourCharCode("clkd");
inline constexpr PropertySelector isAlive = fourCharCode("livn");
inline constexpr PropertySelector isRunning = fourCharCode("goin");
inline constexpr PropertySelector isHidden = fourCharCode("hidn");
inline constexpr PropertySelector safetyOffset = fourCharCode("saft");
inline constexpr PropertySelector canBeDefaultDevice = fourCharCode("dflt");
inline constexpr PropertySelector canBeDefaultSystemDevice = fourCharCode("sflt");
inline constexpr PropertySelector latency = fourCharCode("ltnc");
inline constexpr PropertySelector controlList = fourCharCode("ctrl");
inline constexpr PropertySelector zeroTimeStampPeriod = fourCharCode("ring");
inline constexpr PropertySelector nominalSampleRate = fourCharCode("nsrt");
inline constexpr PropertySelector availableSampleRates = fourCharCode("nsr#");
inline constexpr PropertySelector preferredChannelLayout = fourCharCode("srnd");
inline constexpr PropertySelector elementName = fourCharCode("lchn");
inline constexpr PropertySelector streamList = fourCharCode("stm#");
inline constexpr PropertySelector clockIsStable = fourCharCode("resc");
inline constexpr PropertySelector clockAlgorithm = fourCharCode("resf");
// The two custom device properties: the audio packet (written by the host) and the diagnostics.
inline constexpr PropertySelector audioPacket = fourCharCode("qbaf");
inline constexpr PropertySelector diagnostics = fourCharCode("qbdg");
// Stream.
inline constexpr PropertySelector direction = fourCharCode("sdir");
inline constexpr PropertySelector startingChannel = fourCharCode("schn");
inline constexpr PropertySelector terminalType = fourCharCode("term");
inline constexpr PropertySelector isActive = fourCharCode("sact");
inline constexpr PropertySelector virtualFormat = fourCharCode("sfmt");
inline constexpr PropertySelector physicalFormat = fourCharCode("pft ");
inline constexpr PropertySelector availableVirtualFormats = fourCharCode("sfma");
inline constexpr PropertySelector availablePhysicalFormats = fourCharCode("pfta");
}  // namespace selector

// How a property's value travels: a plain 32-bit number, a 64-bit float, a reference to a string, data or
// dictionary object, or plain bytes (lists of object identifiers and fixed structures).
enum class PropertyValueKind { unsigned32, float64, reference, bytes };

constexpr PropertyValueKind propertyValueKind(PropertySelector property) {
    switch (property) {
        case selector::name:
        case selector::manufacturer:
        case selector::resourceBundle:
        case selector::plugInCustomProperty:
        case selector::boxUID:
        case selector::modelName:
        case selector::serialNumber:
        case selector::firmwareVersion:
        case selector::deviceUID:
        case selector::modelUID:
        case selector::elementName:
        case selector::audioPacket:
        case selector::diagnostics:
            return PropertyValueKind::reference;
        case selector::nominalSampleRate:
            return PropertyValueKind::float64;
        case selector::ownedObjects:
        case selector::customPropertyInfoList:
        case selector::boxList:
        case selector::deviceList:
        case selector::boxDeviceList:
        case selector::relatedDevices:
        case selector::controlList:
        case selector::availableSampleRates:
        case selector::preferredChannelLayout:
        case selector::streamList:
        case selector::virtualFormat:
        case selector::physicalFormat:
        case selector::availableVirtualFormats:
        case selector::availablePhysicalFormats:
            return PropertyValueKind::bytes;
        default:
            return PropertyValueKind::unsigned32;
    }
}

// The properties whose qualifier is a reference (a string to translate, or the plug-in's custom property's
// argument); every other property ignores its qualifier.
constexpr bool qualifierIsReference(PropertySelector property) {
    return property == selector::translateUIDToBox || property == selector::translateUIDToDevice ||
           property == selector::plugInCustomProperty;
}

}  // namespace quillbridge::microphone
