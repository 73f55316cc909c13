#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace quillbridge {

// Everything the host and the camera extension program (quillbridge-camera-extension) agree on. The two
// programs share no code beyond this header; they meet through PipeWire, the session bus and one Unix socket.
//
// How they meet:
// - The extension publishes one camera as two PipeWire nodes made with pw_stream:
//   * the source node (media.class "Video/Source", node.name sourceNodeName), which desktop apps record from;
//   * the sink node (media.class "Video/Sink", node.name sinkNodeName), which the host feeds.
//   Both carry the device UID (deviceUIDPropertyKey) and their stream's UID (streamUIDPropertyKey); the host
//   finds the sink by its device UID and stream UID (node.name failing that), exactly as it would find the
//   device by UID.
// - The host feeds the sink from a PipeWire producer stream (an output pw_stream, media.class
//   "Stream/Output/Video", PW_KEY_TARGET_OBJECT = sinkNodeName, best as a driver stream that triggers one
//   graph cycle per frame). Every buffer carries one frame of the one format below and a spa_meta_header
//   whose `seq` is the host's sequence number for that buffer and whose `pts` is its presentation time in
//   CLOCK_MONOTONIC nanoseconds; SPA_META_HEADER_FLAG_DISCONT marks a discontinuity. The host keeps at most
//   sinkBufferQueueSize buffers unacknowledged (its room in the sink) and starts with
//   sinkBuffersRequiredForStartUp. A buffer the extension still reads comes back to the producer marked busy
//   (SPA_META_Busy): pw_stream_dequeue_buffer then fails with EBUSY and puts it last, so try the next ones.
//   Queue one buffer per trigger and no second one while the first is still queued (pw_time.queued_buffers
//   > 0): trigger again instead, or a buffer can be lost.
// - The extension takes one buffer at a time from the sink, shows it to the apps on the source node, and then
//   acknowledges it: one datagram (ScheduledOutputMessage) to the host's socket, after which the buffer goes
//   back to the host's pool. The host drops the buffer from its outstanding set on the acknowledgement; a
//   buffer that comes back to its pool unacknowledged (the datagram is best effort) is done with as well.
// - Demand travels as signals on the session bus (see CameraNotifications below).
namespace CameraDeviceIdentifiers {

// The extension program, as the host activates it (a systemd user unit on this platform).
inline constexpr std::string_view extensionBundleIdentifier =
    "com.mossharbor.quillbridgehost.cameraextension";
inline constexpr std::string_view extensionProgramName = "quillbridge-camera-extension";
inline constexpr std::string_view extensionUserUnitName = "quillbridge-camera-extension.service";

// Identifiers, in the upper-case text form the host compares.
inline constexpr std::string_view deviceUID = "F750DA4B-6FE3-4BCA-8B21-E15AF04E7990";
inline constexpr std::string_view sourceStreamUID = "54E11DA8-1586-48FF-8E0A-6C94B1ED9132";
inline constexpr std::string_view sinkStreamUID = "57DDA15A-C264-429C-B22B-9047ED4755D8";

// Names. The device name, model and source stream name are one text.
inline constexpr std::string_view deviceName = "Quillbridge Persona Camera";
inline constexpr std::string_view deviceModel = "Quillbridge Persona Camera";
inline constexpr std::string_view sourceStreamName = "Quillbridge Persona Camera";
inline constexpr std::string_view sinkStreamName = "Quillbridge Persona Camera Input";
inline constexpr std::string_view manufacturer = "Moss Harbor";

// The one video format: 8-bit bi-planar 4:2:0 in video range ('420v', NV12 in PipeWire and V4L2), 1920 x
// 1080, one frame every 1/30 s. A frame is the luma plane (one byte per pixel) followed by the interleaved
// CbCr plane (half height, full width in bytes); packed, a frame is frameByteCount bytes.
inline constexpr std::uint32_t widthPixels = 1920;
inline constexpr std::uint32_t heightPixels = 1080;
inline constexpr std::uint32_t frameDurationNumerator = 1;
inline constexpr std::uint32_t frameDurationDenominator = 30;
inline constexpr std::size_t lumaRowByteCount = widthPixels;
inline constexpr std::size_t chromaRowByteCount = widthPixels;
inline constexpr std::size_t chromaRowCount = heightPixels / 2;
inline constexpr std::size_t lumaByteCount = lumaRowByteCount * heightPixels;
inline constexpr std::size_t chromaByteCount = chromaRowByteCount * chromaRowCount;
inline constexpr std::size_t frameByteCount = lumaByteCount + chromaByteCount;

// The sink's buffer queue: how many buffers the host may have in the sink at once (sent and not yet
// acknowledged), and how many it needs before the sink starts.
inline constexpr std::uint32_t sinkBufferQueueSize = 3;
inline constexpr std::uint32_t sinkBuffersRequiredForStartUp = 1;
// The pool of PipeWire buffers the host's producer and the sink share (negotiated; the sink prefers this
// many). It is larger than the queue: a buffer the sink has released reaches the producer again only with the
// producer's next graph cycle or the one after.
inline constexpr std::uint32_t sinkBufferPoolSize = 8;
inline constexpr std::uint32_t sinkBufferPoolMaximum = 16;

// PipeWire node properties.
inline constexpr std::string_view sourceNodeName = "quillbridge_persona_camera";
inline constexpr std::string_view sinkNodeName = "quillbridge_persona_camera_input";
inline constexpr std::string_view sourceMediaClass = "Video/Source";
inline constexpr std::string_view sinkMediaClass = "Video/Sink";
inline constexpr std::string_view sourceMediaRole = "Camera";
inline constexpr std::string_view deviceUIDPropertyKey = "quillbridge.camera.device-uid";
inline constexpr std::string_view streamUIDPropertyKey = "quillbridge.camera.stream-uid";
// Also set on both nodes: node.description and node.nick (the stream's name), device.vendor.name
// (manufacturer) and device.product.name (deviceModel). The extension's PipeWire client carries
// application.id (extensionBundleIdentifier).

// A camera for apps that speak only V4L2: a v4l2loopback device whose card label is this text receives every
// frame too (modprobe v4l2loopback card_label="Quillbridge Persona Camera" exclusive_caps=1).
inline constexpr std::string_view v4l2LoopbackCardLabel = "Quillbridge Persona Camera";

}  // namespace CameraDeviceIdentifiers

// The camera's demand notifications. Each is a signal on the session bus whose one string argument is the
// notification's name (D-Bus member names cannot carry the dots and dashes of the names):
//   object path signalObjectPath, interface signalInterface, member signalMember, signature "s".
// Receivers match on interface, member and arg0 (any sender, any path). Nobody owns a well-known bus name for
// them. The host posts demandQuery; the extension answers it with demandStarted (an app records from the
// source node) or demandStopped (none does), posts the same two on every change, and posts demandStopped once
// when it has set its camera up.
namespace CameraNotifications {

inline constexpr std::string_view demandQuery = "com.mossharbor.quillbridge.camera.demand-query";
inline constexpr std::string_view demandStarted = "com.mossharbor.quillbridge.camera.demand-started";
inline constexpr std::string_view demandStopped = "com.mossharbor.quillbridge.camera.demand-stopped";

inline constexpr std::string_view signalObjectPath = "/com/mossharbor/quillbridge/Notifications";
inline constexpr std::string_view signalInterface = "com.mossharbor.quillbridge.Notifications";
inline constexpr std::string_view signalMember = "Posted";
inline constexpr std::string_view signalSignature = "s";

}  // namespace CameraNotifications

// The acknowledgement of a consumed sink buffer ("scheduled output changed"). While the host feeds the sink
// it binds a Unix datagram socket (SOCK_DGRAM) at $XDG_RUNTIME_DIR/socketFileName; for every buffer it takes
// from the sink the extension sends one datagram there, without waiting: the buffer's sequence number (the
// spa_meta_header seq the host wrote, 0 when the buffer carried no header) and the host time at which the
// buffer was delivered, in CLOCK_MONOTONIC nanoseconds. A datagram is exactly byteCount bytes: the two
// numbers as unsigned 64-bit big-endian integers, sequence number first. Receivers refuse every other length.
// Nothing is sent while nobody has bound the socket, and a datagram the socket has no room for is dropped (a
// Unix datagram socket queues few, often 10: net.unix.max_dgram_qlen), so the host reads them as they come.
struct ScheduledOutputMessage {
    static constexpr std::string_view socketFileName = "quillbridge-camera-scheduled-output";
    static constexpr std::size_t byteCount = 16;

    std::uint64_t sequenceNumber = 0;
    std::uint64_t hostTimeNanoseconds = 0;

    bool operator==(const ScheduledOutputMessage&) const = default;

    constexpr std::array<std::uint8_t, byteCount> encoded() const {
        std::array<std::uint8_t, byteCount> bytes{};
        for (std::size_t index = 0; index < 8; ++index) {
            bytes[index] = static_cast<std::uint8_t>(sequenceNumber >> (56 - 8 * index));
            bytes[8 + index] = static_cast<std::uint8_t>(hostTimeNanoseconds >> (56 - 8 * index));
        }
        return bytes;
    }

    // Nothing unless the bytes are exactly one message.
    static constexpr std::optional<ScheduledOutputMessage> decode(std::span<const std::uint8_t> bytes) {
        if (bytes.size() != byteCount)
            return std::nullopt;
        ScheduledOutputMessage message;
        for (std::size_t index = 0; index < 8; ++index) {
            message.sequenceNumber = (message.sequenceNumber << 8) | bytes[index];
            message.hostTimeNanoseconds = (message.hostTimeNanoseconds << 8) | bytes[8 + index];
        }
        return message;
    }
};

}  // namespace quillbridge
