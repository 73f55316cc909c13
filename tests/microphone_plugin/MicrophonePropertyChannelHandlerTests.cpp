// The property channel's requests carried out on the driver: value conversions both ways, the capacity of
// gets, refusals of wrong value types and malformed messages.

#include <gtest/gtest.h>

#include "microphone_plugin/MicrophonePropertyChannelHandler.hpp"
#include "support/microphone/MicrophoneDriverHarness.hpp"

namespace quillbridge {
namespace {

using namespace microphone;
namespace sel = microphone::selector;

class MicrophonePropertyChannelHandlerTests : public testing::Test {
protected:
    PropertyChannelResponse request(PropertyChannelOperation operation, ObjectID object,
                                    PropertySelector selector, PropertyChannelValue data = {},
                                    PropertyChannelValue qualifier = {},
                                    std::uint32_t capacity = propertyChannelReportedCapacity,
                                    PropertyScope scope = scope::global) {
        PropertyChannelRequest message{++nextID, operation, object, {selector, scope, 0},
                                       capacity, qualifier, data};
        auto response = handler.handleRequest(message, 4321);
        EXPECT_EQ(response.requestID, nextID);
        return response;
    }
    PropertyChannelResponse get(ObjectID object, PropertySelector selector,
                                PropertyChannelValue qualifier = {},
                                std::uint32_t capacity = propertyChannelReportedCapacity,
                                PropertyScope scope = scope::global) {
        return request(PropertyChannelOperation::getPropertyData, object, selector, {}, qualifier, capacity,
                       scope);
    }
    PropertyChannelResponse set(ObjectID object, PropertySelector selector, PropertyChannelValue data) {
        return request(PropertyChannelOperation::setPropertyData, object, selector, data);
    }

    MicrophoneDriverHarness harness;
    MicrophonePropertyChannelHandler handler{harness.ref};
    std::uint32_t nextID = 100;
};

PropertyChannelResponse ok(PropertyChannelValue value) {
    return {0, status::ok, std::move(value)};
}

// Compares status and value, not the identifier.
void expectAnswer(const PropertyChannelResponse& actual, const PropertyChannelResponse& expected) {
    EXPECT_EQ(actual.status, expected.status);
    EXPECT_EQ(actual.value, expected.value);
}

TEST_F(MicrophonePropertyChannelHandlerTests, GetsAnswerNumbersFloatsStringsBytesAndDictionaries) {
    expectAnswer(get(boxObjectID, sel::acquired), ok(0u));
    expectAnswer(get(deviceObjectID, sel::nominalSampleRate), ok(48000.0));
    expectAnswer(get(boxObjectID, sel::name), ok(std::string("Quillbridge Microphone")));
    expectAnswer(get(plugInObjectID, sel::boxList), ok(PropertyChannelBytes{2, 0, 0, 0}));
    expectAnswer(get(deviceObjectID, sel::audioPacket), ok(PropertyChannelBytes{}));
    auto format = get(inputStreamObjectID, sel::virtualFormat);
    ASSERT_EQ(format.status, 0);
    EXPECT_EQ(std::get<PropertyChannelBytes>(format.value).size(), 40u);

    auto diagnostics = get(deviceObjectID, sel::diagnostics);
    ASSERT_EQ(diagnostics.status, 0);
    const auto& dictionary = std::get<PropertyChannelDictionary>(diagnostics.value);
    EXPECT_EQ(dictionary.entries.size(), 8u);
    ASSERT_NE(dictionary.find("targetFrames"), nullptr);
    EXPECT_EQ(*dictionary.find("targetFrames"), PropertyChannelScalar(std::int64_t{1440}));
}

TEST_F(MicrophonePropertyChannelHandlerTests, GetsUseTheGivenCapacity) {
    expectAnswer(get(inputStreamObjectID, sel::virtualFormat, {}, 39), {0, status::badPropertySize, {}});
    expectAnswer(get(inputStreamObjectID, sel::availableVirtualFormats, {}, 40), ok(PropertyChannelBytes{}));
    expectAnswer(get(plugInObjectID, sel::boxList, {}, 4'000'000'000u), ok(PropertyChannelBytes{2, 0, 0, 0}));
    expectAnswer(get(boxObjectID, sel::name, {}, 4), {0, status::badPropertySize, {}});
}

TEST_F(MicrophonePropertyChannelHandlerTests, QualifiersAndReferencesMustBeStringsDataOrDictionaries) {
    expectAnswer(get(plugInObjectID, sel::translateUIDToBox, std::string(microphone::boxUID)), ok(2u));
    expectAnswer(get(plugInObjectID, sel::translateUIDToBox, std::string("another")), ok(0u));
    expectAnswer(get(plugInObjectID, sel::translateUIDToBox), {0, status::badPropertySize, {}});
    expectAnswer(get(plugInObjectID, sel::translateUIDToBox, 8.0), {0, propertyChannelWrongValueType, {}});
    expectAnswer(get(plugInObjectID, sel::translateUIDToBox, std::uint32_t{2}),
                 {0, propertyChannelWrongValueType, {}});

    // A property that takes no qualifier ignores any, even eight bytes that are no reference.
    expectAnswer(get(boxObjectID, sel::acquired, 8.0), ok(0u));
    expectAnswer(get(boxObjectID, sel::name, PropertyChannelBytes(8, 0x03)),
                 ok(std::string("Quillbridge Microphone")));

    expectAnswer(set(boxObjectID, sel::name, 1.5), {0, propertyChannelWrongValueType, {}});
    expectAnswer(set(deviceObjectID, sel::audioPacket, std::int64_t{7}),
                 {0, propertyChannelWrongValueType, {}});
    expectAnswer(set(boxObjectID, sel::acquired, std::string("1")), {0, propertyChannelWrongValueType, {}});
    expectAnswer(set(deviceObjectID, sel::audioPacket, std::string("AMBQ")),
                 {0, status::illegalOperation, {}});
    expectAnswer(get(boxObjectID, sel::name), ok(std::string("Quillbridge Microphone")));
}

TEST_F(MicrophonePropertyChannelHandlerTests, SetsReachTheDriver) {
    expectAnswer(set(boxObjectID, sel::acquired, 1u), ok({}));
    expectAnswer(get(plugInObjectID, sel::deviceList), ok(PropertyChannelBytes{3, 0, 0, 0}));
    expectAnswer(set(boxObjectID, sel::acquired, PropertyChannelBytes{1, 0, 0}),
                 {0, status::badPropertySize, {}});
    expectAnswer(set(boxObjectID, sel::name, std::string("Desk")), ok({}));
    expectAnswer(get(boxObjectID, sel::name), ok(std::string("Desk")));

    std::vector<float> samples(480, 0.5f);
    auto packet =
        encodeMicrophonePacket(MicrophonePacketHeader{1, 0, 0, 0, 2000}, std::span<const float>(samples));
    expectAnswer(set(deviceObjectID, sel::audioPacket, packet), ok({}));
    expectAnswer(get(deviceObjectID, sel::latency, {}, propertyChannelReportedCapacity, scope::input),
                 ok(2000u));
    expectAnswer(set(deviceObjectID, sel::nominalSampleRate, 44100.0), {0, status::unsupportedOperation, {}});
    expectAnswer(set(9, sel::acquired, 1u), {0, status::badObject, {}});
}

TEST_F(MicrophonePropertyChannelHandlerTests, HasSettableAndSizeAnswerNumbers) {
    expectAnswer(request(PropertyChannelOperation::hasProperty, boxObjectID, sel::acquired), ok(1u));
    expectAnswer(request(PropertyChannelOperation::hasProperty, boxObjectID, sel::deviceUID), ok(0u));
    expectAnswer(request(PropertyChannelOperation::isPropertySettable, boxObjectID, sel::acquired), ok(1u));
    expectAnswer(request(PropertyChannelOperation::isPropertySettable, boxObjectID, sel::hasAudio), ok(0u));
    expectAnswer(request(PropertyChannelOperation::isPropertySettable, boxObjectID, sel::deviceUID),
                 {0, status::unknownProperty, {}});
    expectAnswer(
        request(PropertyChannelOperation::getPropertyDataSize, inputStreamObjectID, sel::virtualFormat),
        ok(40u));
}

TEST_F(MicrophonePropertyChannelHandlerTests, MalformedMessagesAreAnsweredWithAnError) {
    PropertyChannelRequest valid{77,
                                 PropertyChannelOperation::getPropertyData,
                                 boxObjectID,
                                 {sel::acquired},
                                 propertyChannelReportedCapacity,
                                 {},
                                 {}};
    auto bytes = *encodePropertyChannelMessage(valid);
    auto answer = handler.handleMessage(bytes, 0);
    EXPECT_EQ(answer.requestID, 77u);
    EXPECT_EQ(answer.status, 0);

    auto truncated = bytes;
    truncated.pop_back();
    answer = handler.handleMessage(truncated, 0);
    EXPECT_EQ(answer.requestID, 77u);
    EXPECT_EQ(answer.status, propertyChannelMalformedMessage);

    auto response = *encodePropertyChannelMessage(PropertyChannelResponse{78, 0, {}});
    EXPECT_EQ(handler.handleMessage(response, 0).status, propertyChannelMalformedMessage);

    std::vector<std::uint8_t> garbage{1, 2, 3};
    answer = handler.handleMessage(garbage, 0);
    EXPECT_EQ(answer.requestID, 0u);
    EXPECT_EQ(answer.status, propertyChannelMalformedMessage);
}

// The channel hands the driver a reference only where the property takes one, and reads the driver's
// answer as a reference only where it is one: the two tables must agree on every property.
TEST(MicrophonePropertyKindTests, EveryPropertyAnswersAReferenceExactlyWhenItsKindSaysSo) {
    const PropertySelector selectors[] = {sel::baseClass,
                                          sel::objectClass,
                                          sel::owner,
                                          sel::name,
                                          sel::manufacturer,
                                          sel::ownedObjects,
                                          sel::customPropertyInfoList,
                                          sel::resourceBundle,
                                          sel::boxList,
                                          sel::deviceList,
                                          sel::translateUIDToBox,
                                          sel::translateUIDToDevice,
                                          sel::plugInCustomProperty,
                                          sel::boxUID,
                                          sel::transportType,
                                          sel::hasAudio,
                                          sel::hasVideo,
                                          sel::hasMIDI,
                                          sel::isProtected,
                                          sel::acquired,
                                          sel::acquisitionFailed,
                                          sel::boxDeviceList,
                                          sel::identify,
                                          sel::modelName,
                                          sel::serialNumber,
                                          sel::firmwareVersion,
                                          sel::deviceUID,
                                          sel::modelUID,
                                          sel::relatedDevices,
                                          sel::clockDomain,
                                          sel::isAlive,
                                          sel::isRunning,
                                          sel::isHidden,
                                          sel::safetyOffset,
                                          sel::canBeDefaultDevice,
                                          sel::canBeDefaultSystemDevice,
                                          sel::latency,
                                          sel::controlList,
                                          sel::zeroTimeStampPeriod,
                                          sel::nominalSampleRate,
                                          sel::availableSampleRates,
                                          sel::preferredChannelLayout,
                                          sel::elementName,
                                          sel::streamList,
                                          sel::clockIsStable,
                                          sel::clockAlgorithm,
                                          sel::audioPacket,
                                          sel::diagnostics,
                                          sel::direction,
                                          sel::startingChannel,
                                          sel::terminalType,
                                          sel::isActive,
                                          sel::virtualFormat,
                                          sel::physicalFormat,
                                          sel::availableVirtualFormats,
                                          sel::availablePhysicalFormats};
    int answered = 0;
    for (ObjectID object : {plugInObjectID, boxObjectID, deviceObjectID, inputStreamObjectID}) {
        for (PropertySelector selector : selectors) {
            for (PropertyScope propertyScope : {scope::global, scope::input, scope::output}) {
                for (bool acquired : {false, true}) {
                    MicrophonePropertySnapshot snapshot{acquired, false, true, 1440};
                    auto entry =
                        microphoneProperty(object, {selector, propertyScope, 0}, snapshot, std::nullopt);
                    if (!entry) {
                        continue;
                    }
                    ++answered;
                    bool isReference = entry->answer.form == MicrophoneAnswerForm::reference;
                    EXPECT_EQ(isReference, propertyValueKind(selector) == PropertyValueKind::reference)
                        << "object " << object << " selector " << selector;
                    if (propertyValueKind(selector) == PropertyValueKind::unsigned32) {
                        EXPECT_EQ(entry->answer.byteCount(), 4u)
                            << "object " << object << " selector " << selector;
                    }
                }
            }
        }
    }
    EXPECT_GT(answered, 150);
}

}  // namespace
}  // namespace quillbridge
