#include "support/headset/HeadsetSimulator.hpp"

#include "support/headset/HeadsetSimulatorSupport.hpp"

// Persona camera and microphone: the sharing states, formats and media the headset sends.

namespace quillbridge {

using namespace headset_simulator_detail;

// Persona camera and microphone.

asio::awaitable<void> HeadsetSimulator::sendPersonaCameraSharingState(bool isEnabled) {
    return send(StreamControlMessage::make<Case::personaCameraSharingState>(
        PersonaCameraSharingStateMessage{isEnabled}));
}

asio::awaitable<void> HeadsetSimulator::sendMicrophoneSharingState(bool isEnabled) {
    return send(
        StreamControlMessage::make<Case::microphoneSharingState>(MicrophoneSharingStateMessage{isEnabled}));
}

asio::awaitable<void> HeadsetSimulator::sendPersonaCameraFormat(
    PersonaCameraFormatDescriptionMessage format) {
    return send(StreamControlMessage::make<Case::personaCameraFormat>(std::move(format)));
}

asio::awaitable<void> HeadsetSimulator::sendMicrophoneFormat(MicrophoneFormatMessage format) {
    return send(StreamControlMessage::make<Case::microphoneFormat>(std::move(format)));
}

asio::awaitable<void> HeadsetSimulator::sendPersonaCameraFrame(const EncodedVideoFrame& frame) {
    requireConnection();
    if (!personaStream_) {
        auto connection = connection_;
        auto stream = co_await connection->openStream(QuicStreamDirectionality::unidirectional);
        Bytes opening(1, wireByte(InboundStreamKind::personaCamera));
        co_await stream->send(std::move(opening), false);
        personaStream_ = stream;
    }
    VideoFrameStreamHeader header;
    header.version = VideoFrameStreamHeader::readableVersion;
    header.frameID = frame.frameID;
    header.presentationTimeNanoseconds = frame.presentationTimeNanoseconds;
    header.payloadByteCount = static_cast<std::uint32_t>(frame.payload.size());
    header.isKeyFrame = frame.isKeyFrame;
    Bytes data = header.encodedData();
    appendBytes(data, frame.payload);
    auto stream = personaStream_;
    co_await stream->send(std::move(data), false);
}

asio::awaitable<void> HeadsetSimulator::endPersonaCameraStream() {
    if (auto stream = std::exchange(personaStream_, nullptr)) {
        co_await stream->send({}, true);
    }
}

asio::awaitable<void> HeadsetSimulator::sendMicrophoneChunk(std::uint64_t chunkID,
                                                            std::uint64_t captureTimeNanoseconds,
                                                            std::span<const float> samples) {
    requireConnection();
    if (!microphoneStream_) {
        auto connection = connection_;
        auto stream = co_await connection->openStream(QuicStreamDirectionality::unidirectional);
        Bytes opening(1, wireByte(InboundStreamKind::microphone));
        co_await stream->send(std::move(opening), false);
        microphoneStream_ = stream;
    }
    Bytes data;
    appendBigEndian(data, MicrophoneFrameStreamHeader::supportedProtocolVersion);
    appendBigEndian(data, chunkID);
    appendBigEndian(data, captureTimeNanoseconds);
    appendBigEndian(data, static_cast<std::uint32_t>(samples.size()));
    appendBigEndian(data, static_cast<std::uint32_t>(samples.size() * sizeof(float)));
    // Samples in the headset's (little-endian) memory order.
    const std::size_t start = data.size();
    data.resize(start + samples.size() * sizeof(float));
    std::memcpy(data.data() + start, samples.data(), samples.size() * sizeof(float));
    auto stream = microphoneStream_;
    co_await stream->send(std::move(data), false);
}

asio::awaitable<void> HeadsetSimulator::endMicrophoneStream() {
    if (auto stream = std::exchange(microphoneStream_, nullptr)) {
        co_await stream->send({}, true);
    }
}

}  // namespace quillbridge
