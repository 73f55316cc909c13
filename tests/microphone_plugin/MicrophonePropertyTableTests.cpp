// The four objects' property tables as the server sees them through the interface table: every property's
// value, size and settability, the scope and element rules, the qualifier rules and the standard statuses.

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "microphone_plugin/MicrophonePropertyStructures.hpp"
#include "support/microphone/MicrophoneDriverHarness.hpp"

namespace quillbridge {
namespace {

using namespace microphone;
namespace sel = microphone::selector;

using Objects = std::vector<ObjectID>;
using Text = std::string;
using Raw = std::vector<std::uint8_t>;
// What the property answers: a number, a float, a list of objects, a string, plain bytes, or data/dictionary
// references (checked by kind only).
enum class ReferenceKind { data, dictionary };
using Expected = std::variant<std::uint32_t, double, Objects, Text, Raw, ReferenceKind>;

struct PropertyCase {
    ObjectID object;
    PropertySelector selector;
    Expected expected;
    PropertyScope scope = scope::global;
    PropertyElement element = mainElement;
};

template <typename Structure>
Raw rawOf(const Structure& value) {
    Raw bytes(sizeof(value));
    std::memcpy(bytes.data(), &value, sizeof(value));
    return bytes;
}

Raw customInfo(std::initializer_list<MicrophoneCustomPropertyInfo> infos) {
    Raw bytes;
    for (const auto& info : infos) {
        auto one = rawOf(info);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

std::string fourCC(std::uint32_t code) {
    return {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
}

std::string describe(const PropertyCase& property) {
    return "object " + std::to_string(property.object) + " '" + fourCC(property.selector) + "' scope '" +
           fourCC(property.scope) + "' element " + std::to_string(property.element);
}

MicrophoneChannelLayout monoLayout() {
    MicrophoneChannelLayout layout;
    layout.numberChannelDescriptions = 1;
    layout.descriptions[0].label = 42;
    return layout;
}

MicrophoneStreamRangedDescription rangedFormat() {
    return {microphoneStreamFormat(), {48000.0, 48000.0}};
}

// Every property of the unpublished, stopped microphone.
std::vector<PropertyCase> unpublishedProperties() {
    const std::uint32_t virtualTransport = fourCharCode("virt");
    return {
        {plugInObjectID, sel::baseClass, classID::object},
        {plugInObjectID, sel::objectClass, classID::plugIn},
        {plugInObjectID, sel::owner, 0u},
        {plugInObjectID, sel::manufacturer, Text("Moss Harbor")},
        {plugInObjectID, sel::resourceBundle, Text("")},
        {plugInObjectID, sel::boxList, Objects{boxObjectID}},
        {plugInObjectID, sel::deviceList, Objects{}},
        {plugInObjectID, sel::ownedObjects, Objects{boxObjectID}},
        {plugInObjectID, sel::customPropertyInfoList,
         customInfo({{sel::plugInCustomProperty, fourCharCode("cfst"), fourCharCode("plst")}})},
        {boxObjectID, sel::baseClass, classID::object},
        {boxObjectID, sel::objectClass, classID::box},
        {boxObjectID, sel::owner, 1u},
        {boxObjectID, sel::boxUID, Text("com.mossharbor.quillbridge.microphone.box")},
        {boxObjectID, sel::transportType, virtualTransport},
        {boxObjectID, sel::hasAudio, 1u},
        {boxObjectID, sel::hasVideo, 0u},
        {boxObjectID, sel::hasMIDI, 0u},
        {boxObjectID, sel::isProtected, 0u},
        {boxObjectID, sel::acquisitionFailed, 0u},
        {boxObjectID, sel::identify, 0u},
        {boxObjectID, sel::acquired, 0u},
        {boxObjectID, sel::boxDeviceList, Objects{}},
        {boxObjectID, sel::name, Text("Quillbridge Microphone")},
        {boxObjectID, sel::modelName, Text("Quillbridge Microphone")},
        {boxObjectID, sel::manufacturer, Text("Moss Harbor")},
        {boxObjectID, sel::serialNumber, Text("00000001")},
        {boxObjectID, sel::firmwareVersion, Text("1.0")},
        {boxObjectID, sel::ownedObjects, Objects{}},
        {deviceObjectID, sel::baseClass, classID::object},
        {deviceObjectID, sel::objectClass, classID::device},
        {deviceObjectID, sel::owner, 1u},
        {deviceObjectID, sel::name, Text("DeviceName")},
        {deviceObjectID, sel::manufacturer, Text("Moss Harbor")},
        {deviceObjectID, sel::deviceUID, Text("com.mossharbor.quillbridge.microphone.device.v2")},
        {deviceObjectID, sel::modelUID, Text("com.mossharbor.quillbridge.microphone.model.v2")},
        {deviceObjectID, sel::transportType, virtualTransport},
        {deviceObjectID, sel::relatedDevices, Objects{deviceObjectID}},
        {deviceObjectID, sel::clockDomain, 0u},
        {deviceObjectID, sel::isAlive, 1u},
        {deviceObjectID, sel::isRunning, 0u},
        {deviceObjectID, sel::isHidden, 0u},
        {deviceObjectID, sel::safetyOffset, 0u, scope::input},
        {deviceObjectID, sel::clockIsStable, 0u},
        {deviceObjectID, sel::clockAlgorithm, 0u},
        {deviceObjectID, sel::canBeDefaultDevice, 1u, scope::input},
        {deviceObjectID, sel::canBeDefaultSystemDevice, 1u, scope::input},
        {deviceObjectID, sel::latency, 1440u, scope::input},
        {deviceObjectID, sel::controlList, Objects{}},
        {deviceObjectID, sel::zeroTimeStampPeriod, 16384u},
        {deviceObjectID, sel::nominalSampleRate, 48000.0},
        {deviceObjectID, sel::availableSampleRates, rawOf(MicrophoneValueRange{48000.0, 48000.0})},
        {deviceObjectID, sel::preferredChannelLayout, rawOf(monoLayout()), scope::input},
        {deviceObjectID, sel::elementName, Text("MasterElementName"), scope::global, 0},
        {deviceObjectID, sel::elementName, Text("MonoElementName"), scope::input, 1},
        {deviceObjectID, sel::streamList, Objects{inputStreamObjectID}},
        {deviceObjectID, sel::streamList, Objects{inputStreamObjectID}, scope::input},
        {deviceObjectID, sel::streamList, Objects{}, scope::output},
        {deviceObjectID, sel::ownedObjects, Objects{inputStreamObjectID}},
        {deviceObjectID, sel::ownedObjects, Objects{inputStreamObjectID}, scope::input},
        {deviceObjectID, sel::ownedObjects, Objects{}, scope::output},
        {deviceObjectID, sel::customPropertyInfoList,
         customInfo(
             {{sel::diagnostics, fourCharCode("plst"), 0}, {sel::audioPacket, fourCharCode("plst"), 0}})},
        {deviceObjectID, sel::audioPacket, ReferenceKind::data},
        {deviceObjectID, sel::diagnostics, ReferenceKind::dictionary},
        {inputStreamObjectID, sel::baseClass, classID::object},
        {inputStreamObjectID, sel::objectClass, classID::stream},
        {inputStreamObjectID, sel::owner, 3u},
        {inputStreamObjectID, sel::name, Text("InputStreamName")},
        {inputStreamObjectID, sel::direction, 1u},
        {inputStreamObjectID, sel::startingChannel, 1u},
        {inputStreamObjectID, sel::terminalType, fourCharCode("micr")},
        {inputStreamObjectID, sel::latency, 0u},
        {inputStreamObjectID, sel::ownedObjects, Objects{}},
        {inputStreamObjectID, sel::isActive, 1u},
        {inputStreamObjectID, sel::virtualFormat, rawOf(microphoneStreamFormat())},
        {inputStreamObjectID, sel::physicalFormat, rawOf(microphoneStreamFormat())},
        {inputStreamObjectID, sel::availableVirtualFormats, rawOf(rangedFormat())},
        {inputStreamObjectID, sel::availablePhysicalFormats, rawOf(rangedFormat())},
    };
}

// Checks one answer against what the case expects.
void expectAnswer(MicrophoneDriverHarness& harness, const PropertyCase& property) {
    auto address = MicrophoneDriverHarness::address(property.selector, property.scope, property.element);
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(harness.get(property.object, address, 256, bytes), 0);
    if (propertyValueKind(property.selector) == PropertyValueKind::reference) {
        // The answer's reference is ours to release.
        MicrophonePropertyObject* object = nullptr;
        ASSERT_EQ(bytes.size(), sizeof(object));
        std::memcpy(&object, bytes.data(), sizeof(object));
        MicrophonePropertyObjectRef::adopt(object);
    }
    std::uint32_t reportedSize = 0;
    ASSERT_EQ(harness.table().getPropertyDataSize(harness.ref, property.object, 0, &address, 0, nullptr,
                                                  &reportedSize),
              0);
    EXPECT_EQ(reportedSize, bytes.size()) << "the size query reports what get writes";
    std::visit(
        [&]<typename Value>(const Value& expected) {
            if constexpr (std::is_same_v<Value, std::uint32_t> || std::is_same_v<Value, double>) {
                ASSERT_EQ(bytes.size(), sizeof(Value));
                Value actual{};
                std::memcpy(&actual, bytes.data(), sizeof(Value));
                EXPECT_EQ(actual, expected);
            } else if constexpr (std::is_same_v<Value, Objects>) {
                Objects actual(bytes.size() / 4);
                if (!actual.empty()) {
                    std::memcpy(actual.data(), bytes.data(), bytes.size());
                }
                EXPECT_EQ(actual, expected);
            } else if constexpr (std::is_same_v<Value, Text>) {
                EXPECT_EQ(harness.text(property.object, address), expected);
            } else if constexpr (std::is_same_v<Value, Raw>) {
                EXPECT_EQ(bytes, expected);
            } else {
                auto object = harness.reference(property.object, address);
                ASSERT_TRUE(object);
                EXPECT_EQ(object->kind(), expected == ReferenceKind::data
                                              ? MicrophonePropertyObject::Kind::data
                                              : MicrophonePropertyObject::Kind::dictionary);
            }
        },
        property.expected);
}

TEST(MicrophonePropertyTableTests, EveryPropertyAnswersItsValueAndReportsItsSize) {
    MicrophoneDriverHarness harness;
    for (const auto& property : unpublishedProperties()) {
        SCOPED_TRACE(describe(property));
        auto address = MicrophoneDriverHarness::address(property.selector, property.scope, property.element);
        EXPECT_TRUE(harness.table().hasProperty(harness.ref, property.object, 0, &address));
        expectAnswer(harness, property);
    }
}

TEST(MicrophonePropertyTableTests, ExactlyTheSixPropertiesAreSettable) {
    MicrophoneDriverHarness harness;
    const std::set<std::pair<ObjectID, PropertySelector>> settable{{boxObjectID, sel::acquired},
                                                                   {boxObjectID, sel::name},
                                                                   {boxObjectID, sel::identify},
                                                                   {deviceObjectID, sel::audioPacket},
                                                                   {inputStreamObjectID, sel::isActive}};
    auto cases = unpublishedProperties();
    for (const auto& property : cases) {
        SCOPED_TRACE(describe(property));
        auto address = MicrophoneDriverHarness::address(property.selector, property.scope, property.element);
        bool isSettable = true;
        ASSERT_EQ(harness.table().isPropertySettable(harness.ref, property.object, 0, &address, &isSettable),
                  0);
        EXPECT_EQ(isSettable, settable.contains({property.object, property.selector}));
    }
    auto custom = MicrophoneDriverHarness::address(sel::plugInCustomProperty);
    bool isSettable = false;
    EXPECT_EQ(harness.table().isPropertySettable(harness.ref, plugInObjectID, 0, &custom, &isSettable), 0);
    EXPECT_TRUE(isSettable);
}

TEST(MicrophonePropertyTableTests, PropertiesOutsideTheirScopeOrElementAndUnknownSelectorsDoNotExist) {
    MicrophoneDriverHarness harness;
    const PropertyCase absent[] = {
        {deviceObjectID, sel::safetyOffset, 0u, scope::global},
        {deviceObjectID, sel::latency, 0u, scope::output},
        {deviceObjectID, sel::preferredChannelLayout, 0u, scope::global},
        {deviceObjectID, sel::canBeDefaultDevice, 0u, scope::global},
        {deviceObjectID, sel::canBeDefaultSystemDevice, 0u, scope::output},
        {deviceObjectID, sel::clockIsStable, 0u, scope::input},
        {deviceObjectID, sel::clockAlgorithm, 0u, scope::output},
        {deviceObjectID, sel::elementName, 0u, scope::global, 2},
        {plugInObjectID, sel::name, 0u},
        {plugInObjectID, fourCharCode("zzzz"), 0u},
        {boxObjectID, sel::deviceUID, 0u},
        {inputStreamObjectID, sel::isRunning, 0u},
    };
    for (const auto& property : absent) {
        SCOPED_TRACE(describe(property));
        auto address = MicrophoneDriverHarness::address(property.selector, property.scope, property.element);
        EXPECT_FALSE(harness.table().hasProperty(harness.ref, property.object, 0, &address));
        std::vector<std::uint8_t> bytes;
        EXPECT_EQ(harness.get(property.object, address, 64, bytes), status::unknownProperty);
        std::uint32_t size = 0;
        EXPECT_EQ(
            harness.table().getPropertyDataSize(harness.ref, property.object, 0, &address, 0, nullptr, &size),
            status::unknownProperty);
        bool settable = false;
        EXPECT_EQ(harness.table().isPropertySettable(harness.ref, property.object, 0, &address, &settable),
                  status::unknownProperty);
    }
}

TEST(MicrophonePropertyTableTests, UnknownObjectsAndNullPointersAreRefused) {
    MicrophoneDriverHarness harness;
    auto address = MicrophoneDriverHarness::address(sel::objectClass);
    std::uint32_t value = 0;
    std::uint32_t size = 0;
    bool settable = false;
    for (ObjectID object : {0u, 5u, 99u}) {
        EXPECT_FALSE(harness.table().hasProperty(harness.ref, object, 0, &address));
        EXPECT_EQ(
            harness.table().getPropertyData(harness.ref, object, 0, &address, 0, nullptr, 4, &size, &value),
            status::badObject);
        EXPECT_EQ(harness.table().getPropertyDataSize(harness.ref, object, 0, &address, 0, nullptr, &size),
                  status::badObject);
        EXPECT_EQ(harness.table().isPropertySettable(harness.ref, object, 0, &address, &settable),
                  status::badObject);
        EXPECT_EQ(harness.table().setPropertyData(harness.ref, object, 0, &address, 0, nullptr, 4, &value),
                  status::badObject);
    }
    auto& table = harness.table();
    EXPECT_FALSE(table.hasProperty(harness.ref, boxObjectID, 0, nullptr));
    EXPECT_EQ(table.getPropertyData(harness.ref, boxObjectID, 0, nullptr, 0, nullptr, 4, &size, &value),
              status::illegalOperation);
    EXPECT_EQ(table.getPropertyData(harness.ref, boxObjectID, 0, &address, 0, nullptr, 4, nullptr, &value),
              status::illegalOperation);
    EXPECT_EQ(table.getPropertyData(harness.ref, boxObjectID, 0, &address, 0, nullptr, 4, &size, nullptr),
              status::illegalOperation);
    EXPECT_EQ(table.getPropertyDataSize(harness.ref, boxObjectID, 0, &address, 0, nullptr, nullptr),
              status::illegalOperation);
    EXPECT_EQ(table.isPropertySettable(harness.ref, boxObjectID, 0, &address, nullptr),
              status::illegalOperation);
    EXPECT_EQ(table.setPropertyData(harness.ref, boxObjectID, 0, nullptr, 0, nullptr, 4, &value),
              status::illegalOperation);
}

TEST(MicrophonePropertyTableTests, FixedValuesRefuseSmallBuffersAndListsAreCutToWholeItems) {
    MicrophoneDriverHarness harness;
    struct SizeCase {
        ObjectID object;
        PropertySelector selector;
        PropertyScope scope;
        std::uint32_t capacity;
        MicrophoneStatus status;
        std::size_t written;
    };
    const SizeCase cases[] = {
        {boxObjectID, sel::acquired, scope::global, 3, status::badPropertySize, 0},
        {deviceObjectID, sel::nominalSampleRate, scope::global, 7, status::badPropertySize, 0},
        {inputStreamObjectID, sel::virtualFormat, scope::global, 39, status::badPropertySize, 0},
        {inputStreamObjectID, sel::virtualFormat, scope::global, 40, 0, 40},
        {deviceObjectID, sel::preferredChannelLayout, scope::input, 31, status::badPropertySize, 0},
        {boxObjectID, sel::name, scope::global, 7, status::badPropertySize, 0},
        {inputStreamObjectID, sel::availableVirtualFormats, scope::global, 40, 0, 0},
        {inputStreamObjectID, sel::availablePhysicalFormats, scope::global, 56, 0, 56},
        {deviceObjectID, sel::availableSampleRates, scope::global, 15, 0, 0},
        {plugInObjectID, sel::boxList, scope::global, 3, 0, 0},
        {plugInObjectID, sel::customPropertyInfoList, scope::global, 11, 0, 0},
        {deviceObjectID, sel::customPropertyInfoList, scope::global, 23, 0, 12},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(fourCC(test.selector) + " in " + std::to_string(test.capacity) + " bytes");
        std::vector<std::uint8_t> bytes;
        EXPECT_EQ(harness.get(test.object, MicrophoneDriverHarness::address(test.selector, test.scope),
                              test.capacity, bytes),
                  test.status);
        EXPECT_EQ(bytes.size(), test.written);
    }
}

TEST(MicrophonePropertyTableTests,
     TranslatingUIDsNeedsAnEightByteQualifierAndFindsTheDeviceOnlyWhilePublished) {
    MicrophoneDriverHarness harness;
    auto boxUIDText =
        MicrophonePropertyObjectRef::adopt(MicrophonePropertyObject::createString(microphone::boxUID));
    auto deviceUIDText =
        MicrophonePropertyObjectRef::adopt(MicrophonePropertyObject::createString(microphone::deviceUID));
    auto otherText = MicrophonePropertyObjectRef::adopt(MicrophonePropertyObject::createString("other"));
    auto data = MicrophonePropertyObjectRef::adopt(MicrophonePropertyObject::createData({}));
    auto toBox = MicrophoneDriverHarness::address(sel::translateUIDToBox);
    auto toDevice = MicrophoneDriverHarness::address(sel::translateUIDToDevice);

    EXPECT_EQ(harness.u32(plugInObjectID, toBox, boxUIDText.get()), boxObjectID);
    EXPECT_EQ(harness.u32(plugInObjectID, toBox, otherText.get()), 0u);
    EXPECT_EQ(harness.u32(plugInObjectID, toBox, data.get()), 0u);
    EXPECT_EQ(harness.u32(plugInObjectID, toDevice, deviceUIDText.get()), 0u);

    std::uint32_t value = 0;
    std::uint32_t written = 0;
    const MicrophonePropertyObject* qualifier = boxUIDText.get();
    EXPECT_EQ(harness.table().getPropertyData(harness.ref, plugInObjectID, 0, &toBox, 0, nullptr, 4, &written,
                                              &value),
              status::badPropertySize);
    EXPECT_EQ(harness.table().getPropertyData(harness.ref, plugInObjectID, 0, &toBox, 4, &qualifier, 4,
                                              &written, &value),
              status::badPropertySize);

    ASSERT_EQ(harness.acquire(true), 0);
    EXPECT_EQ(harness.u32(plugInObjectID, toDevice, deviceUIDText.get()), deviceObjectID);
    EXPECT_EQ(harness.u32(plugInObjectID, toDevice, boxUIDText.get()), 0u);
}

TEST(MicrophonePropertyTableTests, DeviceListsShowTheDeviceOnlyWhileTheBoxIsAcquired) {
    MicrophoneDriverHarness harness;
    auto lists = [&harness] {
        return std::tuple{
            harness.objects(plugInObjectID, MicrophoneDriverHarness::address(sel::deviceList)),
            harness.objects(plugInObjectID, MicrophoneDriverHarness::address(sel::ownedObjects)),
            harness.objects(boxObjectID, MicrophoneDriverHarness::address(sel::boxDeviceList)),
            harness.u32(boxObjectID, MicrophoneDriverHarness::address(sel::acquired))};
    };
    EXPECT_EQ(lists(), std::tuple(Objects{}, Objects{boxObjectID}, Objects{}, std::optional(0u)));
    ASSERT_EQ(harness.acquire(true), 0);
    EXPECT_EQ(lists(), std::tuple(Objects{deviceObjectID}, Objects{boxObjectID, deviceObjectID},
                                  Objects{deviceObjectID}, std::optional(1u)));
    // The plug-in's owned objects are cut to the buffer.
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(harness.get(plugInObjectID, MicrophoneDriverHarness::address(sel::ownedObjects), 4, bytes), 0);
    EXPECT_EQ(bytes.size(), 4u);
    ASSERT_EQ(harness.acquire(false), 0);
    EXPECT_EQ(lists(), std::tuple(Objects{}, Objects{boxObjectID}, Objects{}, std::optional(0u)));
}

TEST(MicrophonePropertyTableTests, SettingChecksSizesAndPointersAndRefusesReadOnlyProperties) {
    MicrophoneDriverHarness harness;
    auto set = [&harness](ObjectID object, PropertySelector selector, std::uint32_t size, const void* data,
                          std::uint32_t qualifierSize = 0, const void* qualifier = nullptr) {
        auto address = MicrophoneDriverHarness::address(selector);
        return harness.table().setPropertyData(harness.ref, object, 0, &address, qualifierSize, qualifier,
                                               size, data);
    };
    std::uint64_t eightBytes = 0;
    std::uint32_t one = 1;
    const MicrophonePropertyObject* null = nullptr;
    auto number = MicrophonePropertyObjectRef::adopt(MicrophonePropertyObject::createData({}));
    const MicrophonePropertyObject* data = number.get();
    EXPECT_EQ(set(boxObjectID, sel::acquired, 3, &one), status::badPropertySize);
    EXPECT_EQ(set(boxObjectID, sel::acquired, 8, &eightBytes), status::badPropertySize);
    EXPECT_EQ(set(boxObjectID, sel::acquired, 4, nullptr), status::illegalOperation);
    EXPECT_EQ(set(boxObjectID, sel::name, 4, &one), status::badPropertySize);
    EXPECT_EQ(set(boxObjectID, sel::name, 8, &null), status::illegalOperation);
    EXPECT_EQ(set(boxObjectID, sel::name, 8, &data), status::illegalOperation);
    EXPECT_EQ(set(boxObjectID, sel::identify, 8, &eightBytes), status::badPropertySize);
    EXPECT_EQ(set(inputStreamObjectID, sel::isActive, 2, &one), status::badPropertySize);
    EXPECT_EQ(set(plugInObjectID, sel::plugInCustomProperty, 8, &data), status::badPropertySize);
    EXPECT_EQ(set(plugInObjectID, sel::plugInCustomProperty, 4, &one, 8, &data), status::badPropertySize);
    EXPECT_EQ(set(deviceObjectID, sel::nominalSampleRate, 8, &eightBytes), status::unsupportedOperation);
    EXPECT_EQ(set(inputStreamObjectID, sel::virtualFormat, 40, &eightBytes), status::unsupportedOperation);
    EXPECT_EQ(set(inputStreamObjectID, sel::physicalFormat, 40, &eightBytes), status::unsupportedOperation);
    EXPECT_EQ(set(deviceObjectID, sel::objectClass, 4, &one), status::unknownProperty);
    EXPECT_EQ(set(boxObjectID, sel::hasAudio, 4, &one), status::unknownProperty);
    // Nothing was changed by the refusals.
    EXPECT_EQ(harness.u32(boxObjectID, MicrophoneDriverHarness::address(sel::acquired)), 0u);
    EXPECT_EQ(harness.text(boxObjectID, MicrophoneDriverHarness::address(sel::name)),
              "Quillbridge Microphone");
}

TEST(MicrophonePropertyTableTests, TheBoxNameComesFromStorageAndSettingItAnnouncesAtOnce) {
    MicrophoneDriverHarness harness(std::chrono::seconds(15), std::string("Studio Microphone"));
    EXPECT_EQ(harness.host.storageKeys(), std::vector<std::string>{"box acquired"});
    EXPECT_EQ(harness.text(boxObjectID, MicrophoneDriverHarness::address(sel::name)), "Studio Microphone");

    auto name = MicrophonePropertyObjectRef::adopt(MicrophonePropertyObject::createString("Desk"));
    ASSERT_EQ(harness.setReference(boxObjectID, sel::name, name.get()), 0);
    // Announced on the calling thread, before the set returns.
    EXPECT_EQ(
        harness.host.takeAnnouncements(),
        (std::vector<RecordingMicrophoneHost::Announcement>{{boxObjectID, {{sel::name, scope::global, 0}}}}));
    name = {};
    EXPECT_EQ(harness.text(boxObjectID, MicrophoneDriverHarness::address(sel::name)), "Desk");
}

TEST(MicrophonePropertyTableTests, StreamActiveIsStoredAndAnnouncedAndIdentifyIsAnnouncedTwoSecondsLater) {
    MicrophoneDriverHarness harness;
    ASSERT_EQ(harness.setU32(inputStreamObjectID, sel::isActive, 0), 0);
    EXPECT_EQ(harness.u32(inputStreamObjectID, MicrophoneDriverHarness::address(sel::isActive)), 0u);
    EXPECT_EQ(harness.host.takeAnnouncements(),
              (std::vector<RecordingMicrophoneHost::Announcement>{
                  {inputStreamObjectID, {{sel::isActive, scope::global, 0}}}}));

    ASSERT_EQ(harness.setU32(boxObjectID, sel::identify, 1), 0);
    EXPECT_EQ(harness.scheduler.notices(),
              std::vector<std::string>{"The identify property has been set on the Box implemented by the "
                                       "QuillbridgeMicrophone driver."});
    harness.scheduler.advance(std::chrono::milliseconds(1999));
    EXPECT_TRUE(harness.host.takeAnnouncements().empty());
    harness.scheduler.advance(std::chrono::milliseconds(1));
    EXPECT_EQ(harness.host.takeAnnouncements(), (std::vector<RecordingMicrophoneHost::Announcement>{
                                                    {boxObjectID, {{sel::identify, scope::global, 0}}}}));
}

TEST(MicrophonePropertyTableTests, ThePlugInsCustomPropertyWritesItsArgumentsToStandardError) {
    MicrophoneDriverHarness harness;
    auto qualifier = MicrophonePropertyObjectRef::adopt(MicrophonePropertyObject::createString("question"));
    auto custom = MicrophoneDriverHarness::address(sel::plugInCustomProperty);
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(harness.get(plugInObjectID, custom, 8, bytes, qualifier.get()), 0);
    MicrophonePropertyObject* answer = nullptr;
    std::memcpy(&answer, bytes.data(), 8);
    auto owned = MicrophonePropertyObjectRef::adopt(answer);
    EXPECT_EQ(owned->text(), "QuillbridgeMicrophone PlugIn Custom Property");
    EXPECT_EQ(harness.get(plugInObjectID, custom, 8, bytes), status::badPropertySize);

    const MicrophonePropertyObject* qualifierPointer = qualifier.get();
    auto value = MicrophonePropertyObjectRef::adopt(MicrophonePropertyObject::createString("answer"));
    const MicrophonePropertyObject* valuePointer = value.get();
    EXPECT_EQ(harness.table().setPropertyData(harness.ref, plugInObjectID, 0, &custom, 8, &qualifierPointer,
                                              8, &valuePointer),
              0);
    auto lines = harness.scheduler.standardErrorLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("\"question\""), std::string::npos);
    EXPECT_NE(lines[1].find("\"answer\""), std::string::npos);
}

}  // namespace
}  // namespace quillbridge
