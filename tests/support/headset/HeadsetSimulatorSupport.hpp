#pragma once

#include <algorithm>
#include <asio/error.hpp>
#include <asio/redirect_error.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <cstring>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <utility>
#include "core/BigEndian.hpp"
#include "core/Date.hpp"
#include "core/SecureRandom.hpp"
#include "pairing/P256PublicKey.hpp"
#include "pairing/SessionAuthentication.hpp"
#include "support/audio/ElementaryStreamDescriptorReader.hpp"
#include "support/audio/FdkAacTestDecoder.hpp"
#include "support/headset/HeadsetSimulatorError.hpp"
#include "support/pairing/ClientPairingExchange.hpp"
#include "support/quic/LossyUdpRelay.hpp"
#include "support/quic/TestLoopback.hpp"
#include "wire/AudioFrameDatagram.hpp"
#include "wire/ClipboardPayloadStreamCodec.hpp"
#include "wire/ControlMessageFraming.hpp"
#include "wire/InboundStreamKind.hpp"
#include "wire/MicrophoneFrameStreamHeader.hpp"
#include "wire/RawValueEnumeration.hpp"
#include "wire/SessionHelloMessage.hpp"

// What the headset simulator's sources share: bounds on what a session keeps and small helpers.

namespace quillbridge::headset_simulator_detail {

using Case = StreamControlMessage::Case;

// Bounds on what one session keeps, so that a long run cannot grow without end.
inline constexpr std::size_t keptDecodedVideoFrames = 4;
inline constexpr std::size_t keptFramesAwaitingFormat = 32;
inline constexpr std::size_t keptDatagramsAwaitingFormat = 256;
inline constexpr std::size_t keptInboxMessages = 4096;
// The largest video frame the headset takes off the media stream.
inline constexpr std::uint32_t maximumVideoPayloadBytes = 64u * 1024 * 1024;
// Audio chunks acknowledged together.
inline constexpr std::uint64_t audioChunksPerReport = 4;

inline std::string caseName(Case messageCase) {
    return std::string(StreamControlMessage::name(messageCase));
}

inline std::string randomPairingCode() {
    const Bytes random = secureRandomBytes(6);
    std::string code;
    for (const auto byte : random) {
        code.push_back(static_cast<char>('0' + byte % 10));
    }
    return code;
}

inline std::uint64_t monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000ull +
           static_cast<std::uint64_t>(now.tv_nsec);
}

inline bool isAborted(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const asio::system_error& failure) {
        return failure.code() == asio::error::operation_aborted;
    } catch (...) {
        return false;
    }
}

inline std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "unknown error";
    }
}

// The host's media-stream header: the 22-byte layout of VideoFrameStreamHeader, in the version the host
// writes.
inline std::optional<VideoFrameStreamHeader> readHostVideoHeader(ByteView data) {
    std::size_t cursor = 0;
    VideoFrameStreamHeader header;
    const auto version = readUInt8(data, cursor);
    const auto frameID = readBigEndianUInt64(data, cursor);
    const auto time = readBigEndianUInt64(data, cursor);
    const auto count = readBigEndianUInt32(data, cursor);
    const auto key = readUInt8(data, cursor);
    if (!version || !frameID || !time || !count || !key || *version != VideoFrameStreamHeader::hostVersion) {
        return std::nullopt;
    }
    header.version = *version;
    header.frameID = *frameID;
    header.presentationTimeNanoseconds = *time;
    header.payloadByteCount = *count;
    header.isKeyFrame = (*key & 1) != 0;
    return header;
}

}  // namespace quillbridge::headset_simulator_detail
