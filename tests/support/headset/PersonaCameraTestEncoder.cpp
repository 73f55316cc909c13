#include "support/headset/PersonaCameraTestEncoder.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include "core/BigEndian.hpp"

namespace quillbridge {
namespace {

// The NAL units of an Annex B buffer, start codes removed.
std::vector<ByteView> nalUnits(ByteView stream) {
    std::vector<ByteView> units;
    std::size_t index = 0;
    std::optional<std::size_t> start;
    while (index + 3 <= stream.size()) {
        if (stream[index] == 0 && stream[index + 1] == 0 && stream[index + 2] == 1) {
            if (start) {
                std::size_t end = index;
                while (end > *start && stream[end - 1] == 0) {
                    --end;
                }
                units.push_back(stream.subspan(*start, end - *start));
            }
            index += 3;
            start = index;
        } else {
            ++index;
        }
    }
    if (start && *start < stream.size()) {
        units.push_back(stream.subspan(*start));
    }
    return units;
}

std::uint8_t clampByte(double value) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
}

}  // namespace

std::unique_ptr<PersonaCameraTestEncoder> PersonaCameraTestEncoder::make(int width, int height,
                                                                         Options options) {
    const bool hevc = options.codec == StreamCodec::hevc;
    const AVCodec* codec = avcodec_find_encoder_by_name(hevc ? "libx265" : "libx264");
    if (codec == nullptr || width <= 0 || height <= 0 || width % 2 != 0 || height % 2 != 0) {
        return nullptr;
    }
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    auto fail = [&]() -> std::unique_ptr<PersonaCameraTestEncoder> {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
        return nullptr;
    };
    if (context == nullptr || frame == nullptr || packet == nullptr) {
        return fail();
    }
    context->width = width;
    context->height = height;
    const AVPixelFormat pixelFormat = options.tenBit ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
    context->pix_fmt = pixelFormat;
    context->time_base = AVRational{1, 30};
    context->framerate = AVRational{30, 1};
    context->gop_size = std::max(options.keyFrameInterval, 1);
    context->max_b_frames = 0;
    context->thread_count = 1;
    context->colorspace = AVCOL_SPC_SMPTE170M;
    context->color_range = AVCOL_RANGE_MPEG;
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "forced-idr", "1", 0);
    if (hevc) {
        // One frame thread and closed GOPs: nothing held back, key frames are IDR pictures.
        av_opt_set(context->priv_data, "x265-params", "frame-threads=1:open-gop=0:log-level=error", 0);
    }
    if (avcodec_open2(context, codec, nullptr) < 0) {
        return fail();
    }
    frame->format = pixelFormat;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame, 0) < 0) {
        return fail();
    }
    return std::unique_ptr<PersonaCameraTestEncoder>(
        new PersonaCameraTestEncoder(context, frame, packet, options));
}

PersonaCameraTestEncoder::~PersonaCameraTestEncoder() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
}

std::optional<EncodedVideoFrame> PersonaCameraTestEncoder::encode(std::uint8_t red, std::uint8_t green,
                                                                  std::uint8_t blue, std::uint64_t frameID,
                                                                  std::uint64_t presentationTimeNanoseconds) {
    if (av_frame_make_writable(frame_) < 0) {
        return std::nullopt;
    }
    // BT.601, limited range: the matrix and range the stream's colour description names.
    const double luma = 16 + (65.481 * red + 128.553 * green + 24.966 * blue) / 255.0;
    const double chromaBlue = 128 + (-37.797 * red - 74.203 * green + 112.0 * blue) / 255.0;
    const double chromaRed = 128 + (112.0 * red - 93.786 * green - 18.214 * blue) / 255.0;
    const std::uint8_t values[3] = {clampByte(luma), clampByte(chromaBlue), clampByte(chromaRed)};
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? frame_->height : frame_->height / 2;
        const int columns = plane == 0 ? frame_->width : frame_->width / 2;
        for (int row = 0; row < rows; ++row) {
            std::uint8_t* line =
                frame_->data[plane] + static_cast<std::ptrdiff_t>(row) * frame_->linesize[plane];
            for (int column = 0; column < columns; ++column) {
                int value = values[plane];
                if (options_.textured && plane == 0) {
                    // Ripples that move a little every frame.
                    value = std::clamp(
                        value +
                            static_cast<int>((column * 7 + row * 3 + static_cast<int>(frameID) * 5) % 41) -
                            20,
                        16, 235);
                }
                if (options_.tenBit) {
                    reinterpret_cast<std::uint16_t*>(line)[column] = static_cast<std::uint16_t>(value << 2);
                } else {
                    line[column] = static_cast<std::uint8_t>(value);
                }
            }
        }
    }
    const bool isKeyFrame =
        frameCount_ % static_cast<std::uint64_t>(std::max(options_.keyFrameInterval, 1)) == 0;
    ++frameCount_;
    frame_->pts = static_cast<std::int64_t>(frameID);
    frame_->pict_type = isKeyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(context_, frame_) < 0 || avcodec_receive_packet(context_, packet_) < 0) {
        return std::nullopt;
    }
    EncodedVideoFrame encoded;
    encoded.frameID = frameID;
    encoded.presentationTimeNanoseconds = presentationTimeNanoseconds;
    encoded.isKeyFrame = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
    PersonaCameraFormatDescriptionMessage format;
    format.codec = options_.codec;
    format.width = context_->width;
    format.height = context_->height;
    format.nalUnitHeaderLength = 4;
    for (const auto unit : nalUnits(ByteView(packet_->data, static_cast<std::size_t>(packet_->size)))) {
        const bool hevc = options_.codec == StreamCodec::hevc;
        const int type = unit.empty() ? 0 : hevc ? (unit[0] >> 1) & 0x3F : unit[0] & 0x1F;
        const bool isParameterSet = hevc ? type >= 32 && type <= 34 : type == 7 || type == 8;
        const bool isSupplemental = hevc ? type == 35 || type == 39 || type == 40 : type == 6 || type == 9;
        if (isParameterSet) {
            format.parameterSets.emplace_back(unit.begin(), unit.end());
        } else if (!isSupplemental) {
            // Slices (SEI and delimiters are left out).
            appendBigEndian(encoded.payload, static_cast<std::uint32_t>(unit.size()));
            appendBytes(encoded.payload, unit);
        }
    }
    av_packet_unref(packet_);
    if (!format.parameterSets.empty()) {
        format_ = std::move(format);
    }
    return encoded;
}

}  // namespace quillbridge
