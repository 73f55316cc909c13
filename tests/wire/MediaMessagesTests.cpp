#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "core/Uuid.hpp"
#include "support/JsonTestHelpers.hpp"
#include "wire/AudioStreamFormatAnnouncementMessage.hpp"
#include "wire/AudioStreamFormatMessage.hpp"
#include "wire/CaptureResolutionOption.hpp"
#include "wire/CertificateRotationMessage.hpp"
#include "wire/ClockSynchronizationRequestMessage.hpp"
#include "wire/ClockSynchronizationResponseMessage.hpp"
#include "wire/ClockSynchronizationResultMessage.hpp"
#include "wire/DisplayGeometryMessage.hpp"
#include "wire/KeyFrameRequestMessage.hpp"
#include "wire/MicrophoneFormatMessage.hpp"
#include "wire/MicrophoneReceiverReportMessage.hpp"
#include "wire/MicrophoneRequestMessage.hpp"
#include "wire/MicrophoneSharingStateMessage.hpp"
#include "wire/PersonaCameraFormatDescriptionMessage.hpp"
#include "wire/PersonaCameraReceiverReportMessage.hpp"
#include "wire/PersonaCameraRequestMessage.hpp"
#include "wire/PersonaCameraSharingStateMessage.hpp"
#include "wire/StreamCodec.hpp"
#include "wire/StreamConfigurationMessage.hpp"
#include "wire/StreamFrameRateOption.hpp"
#include "wire/StreamReceiverReportMessage.hpp"
#include "wire/VideoColorPropertiesMessage.hpp"
#include "wire/VideoFormatDescriptionMessage.hpp"

namespace quillbridge {
namespace {

constexpr std::uint64_t uint64Max = std::numeric_limits<std::uint64_t>::max();

Uuid fixtureUuid() {
    return *Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
}

Bytes hex(std::string_view text) {
    return *fromHex(text);
}

// A binary property list holding {b = 1, a = ("x", true)}, assembled by hand.
const char* const binaryExtensionsBase64 =
    "YnBsaXN0MDDSAQIDBFFiUWEQAaIFBlF4CQgNDxETFhgAAAAAAAABAQAAAAAAAAAHAAAAAAAAAAAAAAAAAAAAGQ==";
// The same dictionary as an XML property list, keys in the other order.
constexpr std::string_view xmlExtensions =
    R"(<?xml version="1.0" encoding="UTF-8"?>)"
    "<!DOCTYPE plist>"
    "<plist version=\"1.0\"><dict><key>a</key><array><string>x</string><true/></array>"
    "<key>b</key><integer>1</integer></dict></plist>";

Bytes binaryExtensions() {
    return *decodeBase64(binaryExtensionsBase64);
}

VideoColorPropertiesMessage hdrColorProperties() {
    return VideoColorPropertiesMessage{"ITU_R_2020",    "SMPTE_ST_2084_PQ", "ITU_R_2020",      true,
                                       hex("03e80190"), hex("00"),          binaryExtensions()};
}

TEST(MediaMessagesTests, EveryPayloadRoundTripsThroughItsExactJson) {
    expectExactRoundTrip(
        StreamConfigurationMessage{},
        R"({"resolution":"Full resolution","videoCodec":"h264","isHDREnabled":false,"frameRate":60,)"
        R"("usesCanonicalHDR":false,"mutesHostAudio":true})");
    expectExactRoundTrip(
        StreamConfigurationMessage{CaptureResolutionOption::half, StreamCodec::hevc, true,
                                   StreamFrameRateOption::fps120, true, false},
        R"({"resolution":"Half resolution","videoCodec":"hevc","isHDREnabled":true,"frameRate":120,)"
        R"("usesCanonicalHDR":true,"mutesHostAudio":false})");
    expectExactRoundTrip(KeyFrameRequestMessage{KeyFrameRequestReason::formatChanged},
                         R"({"reason":"formatChanged"})");
    expectExactRoundTrip(CertificateRotationMessage{fixtureUuid(), hex("308201"), hex("3045")},
                         R"({"peerID":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","certificateDER":"MIIB",)"
                         R"("certificateSignature":"MEU="})");
    expectExactRoundTrip(StreamReceiverReportMessage{uint64Max, 9007199254740993u, 0},
                         R"({"highestReceivedFrameID":18446744073709551615,)"
                         R"("highestReceivedFramePresentationTimeNanoseconds":9007199254740993,)"
                         R"("highestReceivedAudioChunkID":0})");
    expectExactRoundTrip(StreamReceiverReportMessage{}, "{}");
    expectExactRoundTrip(ClockSynchronizationRequestMessage{4294967295u, 9007199254740993u},
                         R"({"sequenceNumber":4294967295,"clientSendTimeNanoseconds":9007199254740993})");
    expectExactRoundTrip(
        ClockSynchronizationResponseMessage{7, 1, 1234567890123456789u, uint64Max},
        R"({"sequenceNumber":7,"clientSendTimeNanoseconds":1,)"
        R"("hostReceiveTimeNanoseconds":1234567890123456789,"hostSendTimeNanoseconds":18446744073709551615})");
    expectExactRoundTrip(
        ClockSynchronizationResultMessage{std::numeric_limits<std::int64_t>::min(), uint64Max},
        R"({"visionToMacOffsetNanoseconds":-9223372036854775808,)"
        R"("initialReverseMediaLeadNanoseconds":18446744073709551615})");
    expectExactRoundTrip(
        AudioStreamFormatAnnouncementMessage{3, {AudioCodec::aacELD, 48000, 2, hex("f8e85000")}},
        R"({"revision":3,"format":{"codec":"aacELD","sampleRate":48000.0,"channelCount":2,)"
        R"("magicCookie":"+OhQAA=="}})");
    expectExactRoundTrip(AudioStreamFormatMessage{AudioCodec::aacELD, 44100.5, 1, std::nullopt},
                         R"({"codec":"aacELD","sampleRate":44100.5,"channelCount":1})");
    expectExactRoundTrip(PersonaCameraSharingStateMessage{true}, R"({"isEnabled":true})");
    expectExactRoundTrip(PersonaCameraRequestMessage{false}, R"({"isEnabled":false})");
    expectExactRoundTrip(
        PersonaCameraFormatDescriptionMessage{
            StreamCodec::hevc, 1920, 1080, 4, {hex("4001"), hex("4201"), hex("4401")}},
        R"({"codec":"hevc","width":1920,"height":1080,"nalUnitHeaderLength":4,)"
        R"("parameterSets":["QAE=","QgE=","RAE="]})");
    expectExactRoundTrip(PersonaCameraReceiverReportMessage{42}, R"({"highestReceivedFrameID":42})");
    expectExactRoundTrip(PersonaCameraReceiverReportMessage{}, "{}");
    expectExactRoundTrip(MicrophoneSharingStateMessage{false}, R"({"isEnabled":false})");
    expectExactRoundTrip(MicrophoneRequestMessage{true}, R"({"isEnabled":true})");
    expectExactRoundTrip(MicrophoneFormatMessage{48000, 1}, R"({"sampleRate":48000.0,"channelCount":1})");
    expectExactRoundTrip(MicrophoneReceiverReportMessage{9}, R"({"highestReceivedChunkID":9})");
    expectExactRoundTrip(MicrophoneReceiverReportMessage{}, "{}");
    expectExactRoundTrip(DisplayGeometryMessage{1512, 982}, R"({"pointWidth":1512,"pointHeight":982})");
    expectExactRoundTrip(VideoColorPropertiesMessage{}, "{}");
    expectExactRoundTrip(
        hdrColorProperties(),
        std::string(R"({"colorPrimaries":"ITU_R_2020","transferFunction":"SMPTE_ST_2084_PQ",)"
                    R"("yCbCrMatrix":"ITU_R_2020","fullRangeVideo":true,"contentLightLevelInfo":"A+gBkA==",)"
                    R"("masteringDisplayColorVolume":"AA==","formatDescriptionExtensionsData":")") +
            binaryExtensionsBase64 + "\"}");
    expectExactRoundTrip(
        VideoFormatDescriptionMessage{StreamCodec::h264,
                                      3840,
                                      2160,
                                      1920,
                                      1080,
                                      4,
                                      {hex("6764"), hex("68ee")},
                                      VideoColorPropertiesMessage{.colorPrimaries = "ITU_R_709_2",
                                                                  .transferFunction = "ITU_R_709_2",
                                                                  .yCbCrMatrix = "ITU_R_709_2",
                                                                  .fullRangeVideo = false}},
        R"({"codec":"h264","width":3840,"height":2160,"pointWidth":1920,"pointHeight":1080,)"
        R"("nalUnitHeaderLength":4,"parameterSets":["Z2Q=","aO4="],"colorProperties":{)"
        R"("colorPrimaries":"ITU_R_709_2","transferFunction":"ITU_R_709_2","yCbCrMatrix":"ITU_R_709_2",)"
        R"("fullRangeVideo":false}})");
    expectExactRoundTrip(
        VideoFormatDescriptionMessage{StreamCodec::hevc, 2, 2, 1, 1, -1, {}, std::nullopt},
        R"({"codec":"hevc","width":2,"height":2,"pointWidth":1,"pointHeight":1,"nalUnitHeaderLength":-1,)"
        R"("parameterSets":[]})");
}

TEST(MediaMessagesTests, StreamConfigurationFillsItsDefaults) {
    auto minimal =
        decodeOrFail<StreamConfigurationMessage>(R"({"videoCodec":"hevc","resolution":"Half resolution"})");
    EXPECT_EQ(minimal.resolution, CaptureResolutionOption::half);
    EXPECT_EQ(minimal.videoCodec, StreamCodec::hevc);
    EXPECT_FALSE(minimal.isHDREnabled);
    EXPECT_EQ(minimal.frameRate, StreamFrameRateOption::fps60);
    EXPECT_FALSE(minimal.usesCanonicalHDR);
    EXPECT_TRUE(minimal.mutesHostAudio) << "a peer that leaves the mute out gets the host muted";

    auto nulls = decodeOrFail<StreamConfigurationMessage>(
        R"({"resolution":"Full resolution","videoCodec":"h264","isHDREnabled":null,"frameRate":null,)"
        R"("usesCanonicalHDR":null,"mutesHostAudio":null})");
    EXPECT_EQ(nulls.frameRate, StreamFrameRateOption::fps60);
    EXPECT_TRUE(nulls.mutesHostAudio);
    EXPECT_FALSE(nulls.isHDREnabled);

    auto given = decodeOrFail<StreamConfigurationMessage>(
        R"({"mutesHostAudio":false,"frameRate":90.0,"extra":[1],"isHDREnabled":true,"usesCanonicalHDR":true,)"
        R"("videoCodec":"h264","resolution":"Full resolution"})");
    EXPECT_EQ(given.frameRate, StreamFrameRateOption::fps90);
    EXPECT_FALSE(given.mutesHostAudio);
    EXPECT_TRUE(given.isHDREnabled);
    EXPECT_TRUE(given.usesCanonicalHDR);
}

TEST(MediaMessagesTests, ReadsWhatAPeerWrites) {
    // Keys in any order, unknown keys, nulls for optionals, integral floats, lower-case UUIDs, integers
    // where doubles are expected.
    auto rotation = decodeOrFail<CertificateRotationMessage>(
        R"({"certificateSignature":"MEU=","note":{"x":null},"certificateDER":"",)"
        R"("peerID":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f"})");
    EXPECT_EQ(rotation.peerID, fixtureUuid());
    EXPECT_TRUE(rotation.certificateDER.empty());
    auto rewritten = encodeJson(rotation);
    ASSERT_TRUE(rewritten.has_value());
    EXPECT_EQ(*rewritten, R"({"peerID":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","certificateDER":"",)"
                          R"("certificateSignature":"MEU="})");

    auto request = decodeOrFail<ClockSynchronizationRequestMessage>(
        R"({"clientSendTimeNanoseconds":18446744073709551615,"sequenceNumber":5.0,"unknown":true})");
    EXPECT_EQ(request.sequenceNumber, 5u);
    EXPECT_EQ(request.clientSendTimeNanoseconds, uint64Max) << "read exactly, never through a double";

    auto result = decodeOrFail<ClockSynchronizationResultMessage>(
        R"({"initialReverseMediaLeadNanoseconds":9223372036854775808,"visionToMacOffsetNanoseconds":-1.0e3})");
    EXPECT_EQ(result.visionToMacOffsetNanoseconds, -1000);
    EXPECT_EQ(result.initialReverseMediaLeadNanoseconds, 9223372036854775808u);

    auto report = decodeOrFail<StreamReceiverReportMessage>(
        R"({"highestReceivedAudioChunkID":7,"highestReceivedFrameID":null,"highestReceivedFramePresentationTimeNanoseconds":null})");
    EXPECT_EQ(report, (StreamReceiverReportMessage{std::nullopt, std::nullopt, 7}));

    auto format = decodeOrFail<VideoFormatDescriptionMessage>(
        R"({"colorProperties":null,"parameterSets":["Z2Q=","aO4="],"nalUnitHeaderLength":4.0,"pointHeight":1080,)"
        R"("pointWidth":1920,"height":2160,"width":3840,"codec":"hevc","frameCount":12})");
    EXPECT_FALSE(format.colorProperties.has_value());
    EXPECT_EQ(format.parameterSets.size(), 2u);
    EXPECT_EQ(format.nalUnitHeaderLength, 4);

    auto colors = decodeOrFail<VideoColorPropertiesMessage>(
        R"({"fullRangeVideo":null,"transferFunction":"ITU_R_709_2","formatDescriptionExtensionsData":null,"x":1})");
    EXPECT_EQ(colors, (VideoColorPropertiesMessage{.transferFunction = "ITU_R_709_2"}));

    auto microphone = decodeOrFail<MicrophoneFormatMessage>(R"({"channelCount":1.0,"sampleRate":48000})");
    EXPECT_EQ(microphone.sampleRate, 48000.0);
    EXPECT_EQ(microphone.channelCount, 1u);

    auto audio = decodeOrFail<AudioStreamFormatAnnouncementMessage>(
        R"({"format":{"magicCookie":null,"channelCount":2,"sampleRate":4.8e4,"codec":"aacELD"},"revision":1})");
    EXPECT_EQ(audio, (AudioStreamFormatAnnouncementMessage{1, {AudioCodec::aacELD, 48000, 2, std::nullopt}}));

    auto camera = decodeOrFail<PersonaCameraFormatDescriptionMessage>(
        R"({"parameterSets":[],"nalUnitHeaderLength":-2147483648,"height":-1,"width":9223372036854775807,"codec":"h264"})");
    EXPECT_EQ(camera.nalUnitHeaderLength, std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(camera.width, std::numeric_limits<std::int64_t>::max());
}

// Decodes `json` as T and returns the error, or nothing when it decoded.
template <typename T>
std::optional<JsonError> decodeError(std::string_view json) {
    auto value = decodeJson<T>(json);
    if (value)
        return std::nullopt;
    return value.error();
}

TEST(MediaMessagesTests, RefusesMalformedPayloads) {
    struct Case {
        const char* label;
        std::function<std::optional<JsonError>(std::string_view)> decode;
        const char* json;
        JsonErrorKind kind;
        const char* codingPath;
    };
    const auto configuration = decodeError<StreamConfigurationMessage>;
    const auto audioFormat = decodeError<AudioStreamFormatMessage>;
    const auto videoFormat = decodeError<VideoFormatDescriptionMessage>;
    const Case cases[] = {
        {"frame rate without a case", configuration,
         R"({"resolution":"Full resolution","videoCodec":"h264","frameRate":45})",
         JsonErrorKind::dataCorrupted, "frameRate"},
        {"frame rate as a string", configuration,
         R"({"resolution":"Full resolution","videoCodec":"h264","frameRate":"60"})",
         JsonErrorKind::typeMismatch, "frameRate"},
        {"short resolution name", configuration, R"({"resolution":"full","videoCodec":"h264"})",
         JsonErrorKind::dataCorrupted, "resolution"},
        {"missing resolution", configuration, R"({"videoCodec":"h264"})", JsonErrorKind::keyNotFound,
         "resolution"},
        {"null codec", configuration, R"({"resolution":"Half resolution","videoCodec":null})",
         JsonErrorKind::valueNotFound, "videoCodec"},
        {"mute as a number", configuration,
         R"({"resolution":"Full resolution","videoCodec":"h264","mutesHostAudio":0})",
         JsonErrorKind::typeMismatch, "mutesHostAudio"},
        {"audio codec other than AAC-ELD", audioFormat,
         R"({"codec":"aac","sampleRate":48000,"channelCount":1})", JsonErrorKind::dataCorrupted, "codec"},
        {"negative channel count", audioFormat, R"({"codec":"aacELD","sampleRate":48000,"channelCount":-1})",
         JsonErrorKind::dataCorrupted, "channelCount"},
        {"channel count beyond 32 bits", decodeError<MicrophoneFormatMessage>,
         R"({"sampleRate":48000,"channelCount":4294967296})", JsonErrorKind::dataCorrupted, "channelCount"},
        {"sample rate as a string", decodeError<MicrophoneFormatMessage>,
         R"({"sampleRate":"48000","channelCount":1})", JsonErrorKind::typeMismatch, "sampleRate"},
        {"cookie not Base64", audioFormat,
         R"({"codec":"aacELD","sampleRate":48000,"channelCount":1,"magicCookie":"+OhQAA="})",
         JsonErrorKind::dataCorrupted, "magicCookie"},
        {"NAL length beyond 32 bits", videoFormat,
         R"({"codec":"h264","width":1,"height":1,"pointWidth":1,"pointHeight":1,"nalUnitHeaderLength":2147483648,"parameterSets":[]})",
         JsonErrorKind::dataCorrupted, "nalUnitHeaderLength"},
        {"NAL length below 32 bits", decodeError<PersonaCameraFormatDescriptionMessage>,
         R"({"codec":"h264","width":1,"height":1,"nalUnitHeaderLength":-2147483649,"parameterSets":[]})",
         JsonErrorKind::dataCorrupted, "nalUnitHeaderLength"},
        {"fractional width", videoFormat,
         R"({"codec":"h264","width":1.5,"height":1,"pointWidth":1,"pointHeight":1,"nalUnitHeaderLength":4,"parameterSets":[]})",
         JsonErrorKind::dataCorrupted, "width"},
        {"parameter sets not an array", videoFormat,
         R"({"codec":"h264","width":1,"height":1,"pointWidth":1,"pointHeight":1,"nalUnitHeaderLength":4,"parameterSets":"QAE="})",
         JsonErrorKind::typeMismatch, "parameterSets"},
        {"parameter set not Base64", videoFormat,
         R"({"codec":"h264","width":1,"height":1,"pointWidth":1,"pointHeight":1,"nalUnitHeaderLength":4,"parameterSets":["QAE=","*"]})",
         JsonErrorKind::dataCorrupted, "parameterSets.Index 1"},
        {"colour range not a Bool", videoFormat,
         R"({"codec":"h264","width":1,"height":1,"pointWidth":1,"pointHeight":1,"nalUnitHeaderLength":4,"parameterSets":[],"colorProperties":{"fullRangeVideo":"yes"}})",
         JsonErrorKind::typeMismatch, "colorProperties.fullRangeVideo"},
        {"missing point height", decodeError<DisplayGeometryMessage>, R"({"pointWidth":1})",
         JsonErrorKind::keyNotFound, "pointHeight"},
        {"peer identifier not a UUID", decodeError<CertificateRotationMessage>,
         R"({"peerID":"E621E1F8C36C495A93FC0C247A3E6E5F","certificateDER":"","certificateSignature":""})",
         JsonErrorKind::dataCorrupted, "peerID"},
        {"certificate not Base64", decodeError<CertificateRotationMessage>,
         R"({"peerID":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","certificateDER":"AQI","certificateSignature":""})",
         JsonErrorKind::dataCorrupted, "certificateDER"},
        {"reason with another case", decodeError<KeyFrameRequestMessage>, R"({"reason":"Startup"})",
         JsonErrorKind::dataCorrupted, "reason"},
        {"negative frame identifier", decodeError<StreamReceiverReportMessage>,
         R"({"highestReceivedFrameID":-1})", JsonErrorKind::dataCorrupted, "highestReceivedFrameID"},
        {"fractional sequence number", decodeError<ClockSynchronizationRequestMessage>,
         R"({"sequenceNumber":1.5,"clientSendTimeNanoseconds":0})", JsonErrorKind::dataCorrupted,
         "sequenceNumber"},
        {"missing host send time", decodeError<ClockSynchronizationResponseMessage>,
         R"({"sequenceNumber":1,"clientSendTimeNanoseconds":0,"hostReceiveTimeNanoseconds":0})",
         JsonErrorKind::keyNotFound, "hostSendTimeNanoseconds"},
        {"offset beyond 64 signed bits", decodeError<ClockSynchronizationResultMessage>,
         R"({"visionToMacOffsetNanoseconds":9223372036854775808,"initialReverseMediaLeadNanoseconds":0})",
         JsonErrorKind::dataCorrupted, "visionToMacOffsetNanoseconds"},
        {"lead beyond 64 bits", decodeError<ClockSynchronizationResultMessage>,
         R"({"visionToMacOffsetNanoseconds":0,"initialReverseMediaLeadNanoseconds":18446744073709551616})",
         JsonErrorKind::dataCorrupted, "initialReverseMediaLeadNanoseconds"},
        {"sharing state missing", decodeError<PersonaCameraSharingStateMessage>, "{}",
         JsonErrorKind::keyNotFound, "isEnabled"},
        {"request as a number", decodeError<MicrophoneRequestMessage>, R"({"isEnabled":1})",
         JsonErrorKind::typeMismatch, "isEnabled"},
        {"negative revision", decodeError<AudioStreamFormatAnnouncementMessage>,
         R"({"revision":-1,"format":{"codec":"aacELD","sampleRate":1,"channelCount":1}})",
         JsonErrorKind::dataCorrupted, "revision"},
        {"nested format missing its codec", decodeError<AudioStreamFormatAnnouncementMessage>,
         R"({"revision":1,"format":{"sampleRate":1,"channelCount":1}})", JsonErrorKind::keyNotFound,
         "format.codec"},
        {"payload not an object", decodeError<MicrophoneReceiverReportMessage>, "[]",
         JsonErrorKind::typeMismatch, ""},
        {"chunk identifier as a string", decodeError<MicrophoneReceiverReportMessage>,
         R"({"highestReceivedChunkID":"1"})", JsonErrorKind::typeMismatch, "highestReceivedChunkID"},
        {"frame identifier beyond 64 bits", decodeError<PersonaCameraReceiverReportMessage>,
         R"({"highestReceivedFrameID":1e20})", JsonErrorKind::dataCorrupted, "highestReceivedFrameID"},
    };
    for (const auto& entry : cases) {
        auto error = entry.decode(entry.json);
        ASSERT_TRUE(error.has_value()) << entry.label;
        EXPECT_EQ(error->kind, entry.kind) << entry.label << ": " << describe(*error);
        EXPECT_EQ(error->codingPath, entry.codingPath) << entry.label;
    }
}

TEST(MediaMessagesTests, NonFiniteSampleRatesDoNotEncode) {
    for (double rate : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        auto microphone = encodeJson(MicrophoneFormatMessage{rate, 1});
        ASSERT_FALSE(microphone.has_value());
        EXPECT_EQ(microphone.error().kind, JsonErrorKind::invalidValue);
        auto announcement =
            encodeJson(AudioStreamFormatAnnouncementMessage{1, {AudioCodec::aacELD, -rate, 2, std::nullopt}});
        ASSERT_FALSE(announcement.has_value());
        EXPECT_EQ(announcement.error().codingPath, "format.sampleRate");
    }
}

TEST(MediaMessagesTests, EnumerationsKeepTheirRawValuesAndOrder) {
    EXPECT_EQ(rawValue(CaptureResolutionOption::full), "Full resolution");
    EXPECT_EQ(enumFromRawValue<CaptureResolutionOption>("Half resolution"), CaptureResolutionOption::half);
    EXPECT_EQ(enumFromRawValue<CaptureResolutionOption>("full"), std::nullopt);
    EXPECT_EQ(enumFromRawValue<StreamCodec>("HEVC"), std::nullopt);
    EXPECT_EQ(enumFromRawValue<AudioCodec>("aacELD"), AudioCodec::aacELD);
    EXPECT_EQ(enumFromRawValue<KeyFrameRequestReason>("formatChanged"), KeyFrameRequestReason::formatChanged);
    EXPECT_EQ(allEnumCases<StreamCodec>(), (std::array{StreamCodec::h264, StreamCodec::hevc}));
    EXPECT_EQ(allEnumCases<CaptureResolutionOption>(),
              (std::array{CaptureResolutionOption::full, CaptureResolutionOption::half}));

    const std::pair<StreamFrameRateOption, std::int64_t> rates[] = {{StreamFrameRateOption::fps30, 30},
                                                                    {StreamFrameRateOption::fps60, 60},
                                                                    {StreamFrameRateOption::fps90, 90},
                                                                    {StreamFrameRateOption::fps120, 120}};
    for (std::size_t index = 0; index < std::size(rates); ++index) {
        EXPECT_EQ(allStreamFrameRateOptions[index], rates[index].first);
        EXPECT_EQ(rawValue(rates[index].first), rates[index].second);
        EXPECT_EQ(streamFrameRateOptionFromRawValue(rates[index].second), rates[index].first);
    }
    EXPECT_EQ(streamFrameRateOptionFromRawValue(45), std::nullopt);
}

TEST(MediaMessagesTests, EqualityComparesOptionalsStringsAndBytesByTheirRules) {
    AudioStreamFormatMessage withoutCookie{AudioCodec::aacELD, 48000, 2, std::nullopt};
    AudioStreamFormatMessage emptyCookie{AudioCodec::aacELD, 48000, 2, Bytes{}};
    EXPECT_NE(withoutCookie, emptyCookie);
    EXPECT_EQ(*encodeJson(emptyCookie),
              R"({"codec":"aacELD","sampleRate":48000.0,"channelCount":2,"magicCookie":""})");
    EXPECT_EQ(decodeOrFail<AudioStreamFormatMessage>(
                  R"({"codec":"aacELD","sampleRate":48000,"channelCount":2,"magicCookie":""})"),
              emptyCookie);

    VideoColorPropertiesMessage precomposed{.colorPrimaries = "caf\xc3\xa9"};
    VideoColorPropertiesMessage decomposed{.colorPrimaries = "cafe\xcc\x81"};
    EXPECT_EQ(precomposed, decomposed) << "strings compare by canonical equivalence";
    EXPECT_NE(precomposed, (VideoColorPropertiesMessage{.colorPrimaries = "cafe"}));
    EXPECT_NE(hdrColorProperties(), (VideoColorPropertiesMessage{}));

    auto other = hdrColorProperties();
    other.masteringDisplayColorVolume = hex("01");
    EXPECT_NE(hdrColorProperties(), other) << "HDR blocks compare byte for byte";
    other = hdrColorProperties();
    other.fullRangeVideo.reset();
    EXPECT_NE(hdrColorProperties(), other);

    VideoFormatDescriptionMessage format{StreamCodec::hevc, 1, 1, 1, 1, 4, {hex("4001")}, std::nullopt};
    auto changed = format;
    changed.parameterSets.push_back(hex("4201"));
    EXPECT_NE(format, changed);
    changed = format;
    changed.colorProperties = VideoColorPropertiesMessage{};
    EXPECT_NE(format, changed) << "absent colour properties differ from empty ones";
}

TEST(MediaMessagesTests, ColourExtensionsCompareByPropertyListContent) {
    auto withExtensions = [](std::optional<Bytes> data) {
        auto properties = hdrColorProperties();
        properties.formatDescriptionExtensionsData = std::move(data);
        return properties;
    };
    const Bytes binary = binaryExtensions();
    const Bytes xml = toBytes(xmlExtensions);
    const Bytes notAPropertyList = toBytes("\x01\x02 not a property list");
    const Bytes topLevelArray = toBytes("<plist><array><string>x</string></array></plist>");
    const Bytes otherArray = toBytes("(y, z)");
    const Bytes otherDictionary = toBytes("<plist><dict><key>b</key><integer>2</integer></dict></plist>");

    EXPECT_EQ(withExtensions(binary), withExtensions(xml)) << "binary and XML forms of one dictionary";
    EXPECT_EQ(withExtensions(notAPropertyList), withExtensions(std::nullopt));
    EXPECT_EQ(withExtensions(std::nullopt), withExtensions(Bytes{}));
    EXPECT_EQ(withExtensions(topLevelArray), withExtensions(otherArray)) << "neither side is a dictionary";
    EXPECT_NE(withExtensions(binary), withExtensions(std::nullopt));
    EXPECT_NE(withExtensions(binary), withExtensions(otherDictionary));
    EXPECT_NE(withExtensions(otherDictionary), withExtensions(topLevelArray));

    // The text form has no numbers, so a number and its digits as a string differ.
    EXPECT_EQ(withExtensions(toBytes("{ k = v; }")),
              withExtensions(toBytes("<plist><dict><key>k</key><string>v</string></dict></plist>")));
    EXPECT_NE(withExtensions(toBytes("{ b = 1; }")),
              withExtensions(toBytes("<plist><dict><key>b</key><integer>1</integer></dict></plist>")));

    // The equality reaches nested colour properties of a video format.
    VideoFormatDescriptionMessage format{StreamCodec::hevc, 1, 1, 1, 1, 4, {}, withExtensions(binary)};
    auto reencoded = format;
    reencoded.colorProperties = withExtensions(xml);
    EXPECT_EQ(format, reencoded);
    reencoded.colorProperties = withExtensions(otherDictionary);
    EXPECT_NE(format, reencoded);
}

}  // namespace
}  // namespace quillbridge
