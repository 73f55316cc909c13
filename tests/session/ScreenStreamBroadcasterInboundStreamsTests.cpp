#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "session/ScreenStreamBroadcasterStreamsFixture.hpp"
#include "wire/MicrophoneFrameStreamHeader.hpp"
#include "wire/VideoFrameStreamHeader.hpp"

namespace quillbridge {
namespace {

using InboundStreamsTest = ScreenStreamBroadcasterStreamsFixture;

void appendBigEndian(Bytes& bytes, std::uint64_t value, int byteCount) {
    for (int shift = (byteCount - 1) * 8; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

// Kind byte 3, then a Persona frame of the given version and payload length.
Bytes personaFrame(std::uint8_t version, std::uint64_t frameID, std::uint32_t payloadByteCount) {
    Bytes bytes;
    bytes.push_back(version);
    appendBigEndian(bytes, frameID, 8);
    appendBigEndian(bytes, 1000 + frameID, 8);
    appendBigEndian(bytes, payloadByteCount, 4);
    bytes.push_back(frameID == 1 ? 1 : 0);
    bytes.resize(bytes.size() + payloadByteCount, 0xAB);
    return bytes;
}

Bytes microphoneChunk(std::uint64_t chunkID, std::uint32_t payloadByteCount, std::size_t actualPayload) {
    Bytes bytes;
    bytes.push_back(1);
    appendBigEndian(bytes, chunkID, 8);
    appendBigEndian(bytes, 5000, 8);
    appendBigEndian(bytes, 480, 4);
    appendBigEndian(bytes, payloadByteCount, 4);
    bytes.resize(bytes.size() + actualPayload, 0x11);
    return bytes;
}

Bytes withKind(std::uint8_t kind, Bytes rest) {
    rest.insert(rest.begin(), kind);
    return rest;
}

constexpr auto unidirectional = QuicStreamDirectionality::unidirectional;
constexpr auto bidirectional = QuicStreamDirectionality::bidirectional;

TEST_F(InboundStreamsTest, RequestRevisionsFenceOlderCallsAndOnlyChangesAreSent) {
    auto headset = authorizedHeadset();
    run(broadcaster->setPersonaCameraRequested(true, 5));
    run(broadcaster->setPersonaCameraRequested(false, 4));  // older: ignored
    run(broadcaster->setPersonaCameraRequested(true, 6));   // same value: nothing sent
    run(broadcaster->setMicrophoneRequested(true, 1));
    run(broadcaster->setMicrophoneRequested(false, 2));
    const auto sent = messages(headset);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], StreamControlMessage::make<Case::personaCameraRequest>({true}));
    EXPECT_EQ(sent[1], StreamControlMessage::make<Case::microphoneRequest>({true}));
    EXPECT_EQ(sent[2], StreamControlMessage::make<Case::microphoneRequest>({false}));
    EXPECT_TRUE(Access::isPersonaCameraRequested(*broadcaster));
    EXPECT_EQ(camera->resetCount, 0);
    EXPECT_EQ(microphone->resetCount, 1);
}

TEST_F(InboundStreamsTest, RequestsBeforeAuthorisationAreStoredAndResetButNotSent) {
    auto headset = connect();
    run(broadcaster->setPersonaCameraRequested(true, 1));
    run(broadcaster->setPersonaCameraRequested(false, 2));
    run(broadcaster->setMicrophoneRequested(true, 1));
    EXPECT_TRUE(messages(headset).empty());
    EXPECT_EQ(camera->resetCount, 1);
    EXPECT_FALSE(Access::isPersonaCameraRequested(*broadcaster));
    EXPECT_TRUE(Access::isMicrophoneRequested(*broadcaster));
}

TEST_F(InboundStreamsTest, StreamsOfUnusableKindsAreRefusedAndStoppedWhileTheSessionGoesOn) {
    auto headset = authorizedHeadset();
    for (const std::uint8_t kind : {0, 1, 2, 6, 255}) {
        SCOPED_TRACE(static_cast<int>(kind));
        ScopedLogCapture logs;
        auto stream = openStream(headset, withKind(kind, personaFrame(1, 1, 4)));
        EXPECT_TRUE(contains(logs.messages("ScreenStreamBroadcaster"), "Inbound media stream failed: "));
        EXPECT_TRUE(sendingWasStopped(*stream));
    }
    EXPECT_TRUE(camera->frames.empty());
    EXPECT_TRUE(microphone->startedStreams.empty());
    EXPECT_FALSE(isClosed(headset));
    // The control stream still works.
    run(broadcaster->setMicrophoneRequested(true, 1));
    EXPECT_EQ(messages(headset).size(), 1u);
}

TEST_F(InboundStreamsTest, PersonaFramesReachTheReceiverEachWithAReport) {
    auto headset = authorizedHeadset();
    Bytes bytes = personaFrame(1, 1, 3);
    const Bytes second = personaFrame(1, 2, 0);
    bytes.insert(bytes.end(), second.begin(), second.end());
    const Bytes largest = personaFrame(1, 3, 8 * 1024 * 1024);
    bytes.insert(bytes.end(), largest.begin(), largest.end());
    ScopedLogCapture logs;
    auto stream = openStream(headset, withKind(3, std::move(bytes)), true, unidirectional);
    ASSERT_EQ(camera->frames.size(), 3u);
    EXPECT_EQ(camera->frames[0], (RecordingPersonaCameraReceiver::Frame{1, 1001, true, Bytes(3, 0xAB)}));
    EXPECT_EQ(camera->frames[1].payload.size(), 0u);
    EXPECT_EQ(camera->frames[2].payload.size(), 8u * 1024 * 1024);
    const auto reports = only<Case::personaCameraReceiverReport>(messages(headset));
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[2].highestReceivedFrameID, 3u);
    // A stream that simply ends is no failure.
    EXPECT_FALSE(contains(logs.messages("ScreenStreamBroadcaster"), "Persona camera stream failed"));
    EXPECT_EQ(camera->resetCount, 0);
}

TEST_F(InboundStreamsTest, BrokenPersonaFramesFailTheStreamAndResetTheReceiver) {
    struct Example {
        std::string name;
        Bytes frame;
    };
    const std::vector<Example> cases{
        {"payload over 8 MiB", personaFrame(1, 1, 8 * 1024 * 1024 + 1)},
        {"host video header version", personaFrame(2, 1, 4)},
    };
    auto headset = authorizedHeadset();
    int resets = 0;
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        ScopedLogCapture logs;
        auto stream = openStream(headset, withKind(3, testCase.frame), false, unidirectional);
        EXPECT_TRUE(contains(logs.messages("ScreenStreamBroadcaster"), "Persona camera stream failed: "));
        EXPECT_EQ(camera->resetCount, ++resets);
        EXPECT_TRUE(sendingWasStopped(*stream));
    }
    EXPECT_TRUE(camera->frames.empty());
    EXPECT_TRUE(only<Case::personaCameraReceiverReport>(messages(headset)).empty());
    EXPECT_FALSE(isClosed(headset));
}

TEST_F(InboundStreamsTest, MicrophonePayloadBounds) {
    struct Example {
        std::uint32_t payloadByteCount;
        bool accepted;
    };
    auto headset = authorizedHeadset();
    for (const auto& testCase :
         {Example{1, true}, Example{262'144, true}, Example{0, false}, Example{262'145, false}}) {
        SCOPED_TRACE(testCase.payloadByteCount);
        microphone->chunks.clear();
        ScopedLogCapture logs;
        const std::size_t sent = testCase.accepted ? testCase.payloadByteCount : 8;
        auto stream = openStream(headset, withKind(4, microphoneChunk(7, testCase.payloadByteCount, sent)),
                                 testCase.accepted, unidirectional);
        ASSERT_FALSE(microphone->startedStreams.empty());
        const Uuid streamID = microphone->startedStreams.back();
        const auto reports = only<Case::microphoneReceiverReport>(messages(headset));
        const bool failed =
            contains(logs.messages("ScreenStreamBroadcaster"), "Active microphone stream failed: ");
        if (testCase.accepted) {
            ASSERT_EQ(microphone->chunks.size(), 1u);
            EXPECT_EQ(microphone->chunks[0].streamID, streamID);
            EXPECT_EQ(microphone->chunks[0].payload.size(), testCase.payloadByteCount);
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(reports[0].highestReceivedChunkID, 7u);
            EXPECT_FALSE(failed);
        } else {
            EXPECT_TRUE(microphone->chunks.empty());
            EXPECT_TRUE(reports.empty());
            EXPECT_TRUE(failed);
            ASSERT_FALSE(microphone->endedStreams.empty());
            EXPECT_EQ(microphone->endedStreams.back(), streamID);
            EXPECT_TRUE(sendingWasStopped(*stream));
        }
    }
    // Each stream gets an identity of its own.
    ASSERT_EQ(microphone->startedStreams.size(), 4u);
    EXPECT_NE(microphone->startedStreams[0], microphone->startedStreams[1]);
}

TEST_F(InboundStreamsTest, UnacknowledgedMicrophoneChunksSendNoReport) {
    microphone->acknowledges = false;
    auto headset = authorizedHeadset();
    auto stream = openStream(headset, withKind(4, microphoneChunk(3, 16, 16)), true, unidirectional);
    EXPECT_EQ(microphone->chunks.size(), 1u);
    EXPECT_TRUE(messages(headset).empty());
}

TEST_F(InboundStreamsTest, StreamsBeforeAuthorisationAreNotRouted) {
    auto headset = connect();
    auto stream = openStream(headset, withKind(3, personaFrame(1, 1, 4)), true, unidirectional);
    EXPECT_TRUE(camera->frames.empty());
}

TEST_F(InboundStreamsTest, OneCameraAndOneMicrophoneStreamAtATimeEachUnidirectional) {
    struct Example {
        const char* name;
        std::uint8_t kind;
        Bytes opening;
        std::string refusal;
        std::function<std::size_t()> received;
    };
    const std::vector<Example> cases{
        {"Persona camera", 3, personaFrame(1, 1, 4), "Persona camera", [&] { return camera->frames.size(); }},
        {"microphone", 4, microphoneChunk(1, 4, 4), "microphone", [&] { return microphone->chunks.size(); }},
    };
    auto headset = authorizedHeadset();
    for (const auto& example : cases) {
        SCOPED_TRACE(example.name);
        ScopedLogCapture logs;
        auto first = openStream(headset, withKind(example.kind, example.opening), false, unidirectional);
        EXPECT_EQ(example.received(), 1u);

        // While the first is open, a second is refused and stopped, unread.
        auto second = openStream(headset, withKind(example.kind, example.opening), false, unidirectional);
        EXPECT_EQ(example.received(), 1u);
        EXPECT_TRUE(sendingWasStopped(*second));
        EXPECT_TRUE(contains(logs.messages("ScreenStreamBroadcaster"),
                             "Refused a second " + example.refusal + " stream while one is open"));

        // A bidirectional one is refused whether or not another is open.
        auto bidirectionalStream =
            openStream(headset, withKind(example.kind, example.opening), false, bidirectional);
        EXPECT_TRUE(sendingWasStopped(*bidirectionalStream));

        // Once the first has ended, the next is taken.
        run(first->send({}, true));
        drain();
        auto third = openStream(headset, withKind(example.kind, example.opening), true, unidirectional);
        EXPECT_EQ(example.received(), 2u);
        EXPECT_FALSE(isClosed(headset));
    }
    // Ended and refused streams alike left each slot free.
    auto bidirectionalAlone = openStream(headset, withKind(3, personaFrame(1, 1, 4)), true, bidirectional);
    EXPECT_TRUE(sendingWasStopped(*bidirectionalAlone));
    EXPECT_EQ(camera->frames.size(), 2u);
    auto lastCamera = openStream(headset, withKind(3, personaFrame(1, 9, 4)), true, unidirectional);
    EXPECT_EQ(camera->frames.size(), 3u);
}

TEST_F(InboundStreamsTest, ANewSessionIsNotKeptOutByTheStreamsOfTheOneBefore) {
    auto first = authorizedHeadset();
    auto held = openStream(first, withKind(3, personaFrame(1, 1, 4)), false, unidirectional);
    run(broadcaster->endSession(nullptr, std::nullopt, true, true));
    drain();
    auto second = authorizedHeadset();
    auto stream = openStream(second, withKind(3, personaFrame(1, 2, 4)), true, unidirectional);
    ASSERT_EQ(camera->frames.size(), 2u);
    EXPECT_EQ(camera->frames[1].frameID, 2u);
}

}  // namespace
}  // namespace quillbridge
