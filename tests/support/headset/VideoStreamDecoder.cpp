#include "support/headset/VideoStreamDecoder.hpp"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
}

namespace quillbridge {
namespace {

// Frames the decoder may hold back before the oldest record of one is dropped.
constexpr std::size_t maximumPendingFrames = 64;

void appendStartCode(Bytes& buffer) {
    static constexpr std::uint8_t startCode[] = {0, 0, 0, 1};
    buffer.insert(buffer.end(), std::begin(startCode), std::end(startCode));
}

DecodedVideoFrame::Matrix matrixOf(AVColorSpace space) {
    switch (space) {
        case AVCOL_SPC_BT709:
            return DecodedVideoFrame::Matrix::bt709;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return DecodedVideoFrame::Matrix::bt2020;
        default:
            return DecodedVideoFrame::Matrix::bt601;
    }
}

// Copies one plane into a tightly packed 8-bit buffer; 10-bit samples (little-endian words) lose their
// two low bits.
void copyPlane(const AVFrame& frame, int plane, int planeWidth, int planeHeight, bool isTenBit,
               std::vector<std::uint8_t>& out) {
    out.resize(static_cast<std::size_t>(planeWidth) * static_cast<std::size_t>(planeHeight));
    for (int row = 0; row < planeHeight; ++row) {
        const std::uint8_t* source =
            frame.data[plane] + static_cast<std::ptrdiff_t>(row) * frame.linesize[plane];
        std::uint8_t* target =
            out.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(planeWidth);
        if (isTenBit) {
            for (int column = 0; column < planeWidth; ++column) {
                std::uint16_t sample = 0;
                std::memcpy(&sample, source + 2 * column, 2);
                target[column] = static_cast<std::uint8_t>(std::min<int>(sample >> 2, 255));
            }
        } else {
            std::memcpy(target, source, static_cast<std::size_t>(planeWidth));
        }
    }
}

}  // namespace

std::unique_ptr<VideoStreamDecoder> VideoStreamDecoder::make(const VideoFormatDescriptionMessage& format) {
    if (format.nalUnitHeaderLength != 1 && format.nalUnitHeaderLength != 2 &&
        format.nalUnitHeaderLength != 4) {
        return nullptr;
    }
    const AVCodec* codec =
        avcodec_find_decoder(format.codec == StreamCodec::hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    if (codec == nullptr) {
        return nullptr;
    }
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (context == nullptr) {
        return nullptr;
    }
    // One thread and low delay: every frame comes out as soon as its packet went in.
    context->thread_count = 1;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (packet == nullptr || frame == nullptr || avcodec_open2(context, codec, nullptr) < 0) {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
        return nullptr;
    }
    return std::unique_ptr<VideoStreamDecoder>(new VideoStreamDecoder(format, context, packet, frame));
}

VideoStreamDecoder::~VideoStreamDecoder() {
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&context_);
}

std::optional<Bytes> VideoStreamDecoder::annexB(const VideoFrameStreamHeader& header, ByteView payload) {
    Bytes stream;
    stream.reserve(payload.size() + 64);
    if (header.isKeyFrame) {
        for (const auto& set : format_.parameterSets) {
            appendStartCode(stream);
            appendBytes(stream, set);
        }
    }
    const auto prefixLength = static_cast<std::size_t>(format_.nalUnitHeaderLength);
    std::size_t offset = 0;
    while (offset < payload.size()) {
        if (payload.size() - offset < prefixLength) {
            lastError_ = "a length prefix is cut short";
            return std::nullopt;
        }
        std::size_t length = 0;
        for (std::size_t index = 0; index < prefixLength; ++index) {
            length = (length << 8) | payload[offset + index];
        }
        offset += prefixLength;
        if (length == 0 || length > payload.size() - offset) {
            lastError_ = "a NAL unit length runs past the frame";
            return std::nullopt;
        }
        appendStartCode(stream);
        appendBytes(stream, payload.subspan(offset, length));
        offset += length;
    }
    return stream;
}

std::optional<DecodedVideoFrame> VideoStreamDecoder::decode(const VideoFrameStreamHeader& header,
                                                            ByteView payload) {
    lastError_.clear();
    auto stream = annexB(header, payload);
    if (!stream) {
        return std::nullopt;
    }
    if (av_new_packet(packet_, static_cast<int>(stream->size())) < 0) {
        lastError_ = "out of memory";
        return std::nullopt;
    }
    std::copy(stream->begin(), stream->end(), packet_->data);
    packet_->pts = static_cast<std::int64_t>(header.frameID);
    if (header.isKeyFrame) {
        packet_->flags |= AV_PKT_FLAG_KEY;
    }
    pending_[header.frameID] = {header.presentationTimeNanoseconds, header.isKeyFrame};
    while (pending_.size() > maximumPendingFrames) {
        pending_.erase(pending_.begin());
    }
    const int sent = avcodec_send_packet(context_, packet_);
    av_packet_unref(packet_);
    if (sent < 0) {
        lastError_ = "the decoder refused the frame (" + std::to_string(sent) + ")";
        return std::nullopt;
    }
    // The newest picture that came out.
    std::optional<DecodedVideoFrame> newest;
    while (avcodec_receive_frame(context_, frame_) == 0) {
        if (auto decoded = picture()) {
            newest = std::move(decoded);
        }
        av_frame_unref(frame_);
    }
    return newest;
}

std::optional<DecodedVideoFrame> VideoStreamDecoder::picture() {
    const auto format = static_cast<AVPixelFormat>(frame_->format);
    bool isTenBit = false;
    switch (format) {
        case AV_PIX_FMT_YUV420P:
        case AV_PIX_FMT_YUVJ420P:
            break;
        case AV_PIX_FMT_YUV420P10LE:
            isTenBit = true;
            break;
        default: {
            const char* name = av_get_pix_fmt_name(format);
            lastError_ = std::string("unexpected picture format ") + (name != nullptr ? name : "?");
            return std::nullopt;
        }
    }
    DecodedVideoFrame decoded;
    const auto frameID = static_cast<std::uint64_t>(frame_->pts);
    decoded.frameID = frameID;
    if (auto info = pending_.find(frameID); info != pending_.end()) {
        decoded.presentationTimeNanoseconds = info->second.presentationTimeNanoseconds;
        decoded.isKeyFrame = info->second.isKeyFrame;
        pending_.erase(pending_.begin(), std::next(info));
    }
    decoded.width = frame_->width;
    decoded.height = frame_->height;
    decoded.matrix = matrixOf(frame_->colorspace);
    decoded.isFullRange = format == AV_PIX_FMT_YUVJ420P || frame_->color_range == AVCOL_RANGE_JPEG;
    copyPlane(*frame_, 0, decoded.width, decoded.height, isTenBit, decoded.luma);
    copyPlane(*frame_, 1, decoded.chromaWidth(), decoded.chromaHeight(), isTenBit, decoded.chromaBlue);
    copyPlane(*frame_, 2, decoded.chromaWidth(), decoded.chromaHeight(), isTenBit, decoded.chromaRed);
    return decoded;
}

}  // namespace quillbridge
