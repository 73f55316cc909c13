#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/Bytes.hpp"
#include "support/headset/DecodedVideoFrame.hpp"
#include "wire/VideoFormatDescriptionMessage.hpp"
#include "wire/VideoFrameStreamHeader.hpp"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace quillbridge {

// The headset's video decoder: libavcodec's H.264 or HEVC decoder set up from a `videoFormat` message.
// Each frame from the media stream is a run of NAL units behind big-endian length prefixes of the format's
// `nalUnitHeaderLength` bytes; the decoder turns them into Annex B, with the format's parameter sets in
// front of every key frame, and hands back the pictures that come out.
class VideoStreamDecoder {
public:
    // Nothing when the codec is missing, refuses to open, or the format's prefix length is not 1, 2 or 4.
    static std::unique_ptr<VideoStreamDecoder> make(const VideoFormatDescriptionMessage& format);
    ~VideoStreamDecoder();
    VideoStreamDecoder(const VideoStreamDecoder&) = delete;
    VideoStreamDecoder& operator=(const VideoStreamDecoder&) = delete;

    const VideoFormatDescriptionMessage& format() const { return format_; }

    // Decodes one frame. Nothing when no picture came out of it (the decoder refused it or holds it back);
    // lastError() then says why when it was a refusal.
    std::optional<DecodedVideoFrame> decode(const VideoFrameStreamHeader& header, ByteView payload);
    const std::string& lastError() const { return lastError_; }

private:
    struct FrameInfo {
        std::uint64_t presentationTimeNanoseconds = 0;
        bool isKeyFrame = false;
    };

    VideoStreamDecoder(VideoFormatDescriptionMessage format, AVCodecContext* context, AVPacket* packet,
                       AVFrame* frame)
        : format_(std::move(format)), context_(context), packet_(packet), frame_(frame) {}

    std::optional<Bytes> annexB(const VideoFrameStreamHeader& header, ByteView payload);
    std::optional<DecodedVideoFrame> picture();

    VideoFormatDescriptionMessage format_;
    AVCodecContext* context_;
    AVPacket* packet_;
    AVFrame* frame_;
    // What the stream header said of the frames the decoder still holds, by frame identifier.
    std::map<std::uint64_t, FrameInfo> pending_;
    std::string lastError_;
};

}  // namespace quillbridge
