#include "platform/linux/video/LibavVideoEncoder.hpp"

#include <cstdio>
#include <string_view>
#include <utility>

#include <asio/post.hpp>
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/hwcontext.h>
#include <libavutil/opt.h>
}

#include "core/FrameStageTrace.hpp"
#include "core/Logger.hpp"
#include "platform/linux/video/AnnexBAccessUnit.hpp"
#include "platform/linux/video/VideoColorMapping.hpp"

namespace quillbridge {
namespace {

const Logger& logger() {
    static const Logger instance{"VideoEncoder"};
    return instance;
}

// Frames that may wait for the worker; the session keeps far fewer in flight.
constexpr int maximumQueuedFrames = 8;

std::uint32_t readUInt16(const Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) << 8 | bytes[offset + 1];
}

std::uint32_t readUInt32(const Bytes& bytes, std::size_t offset) {
    return readUInt16(bytes, offset) << 16 | readUInt16(bytes, offset + 2);
}

// x265's "master-display" value from the 24-byte mastering display colour volume (the SEI layout: green,
// blue, red and white point chromaticities, then maximum and minimum luminance).
std::optional<std::string> masterDisplayParameter(const std::optional<Bytes>& volume) {
    if (!volume || volume->size() != 24)
        return std::nullopt;
    const auto& v = *volume;
    char text[160];
    std::snprintf(text, sizeof text, "G(%u,%u)B(%u,%u)R(%u,%u)WP(%u,%u)L(%u,%u)", readUInt16(v, 0),
                  readUInt16(v, 2), readUInt16(v, 4), readUInt16(v, 6), readUInt16(v, 8), readUInt16(v, 10),
                  readUInt16(v, 12), readUInt16(v, 14), readUInt32(v, 16), readUInt32(v, 20));
    return std::string(text);
}

// x265's "max-cll" value from the 4-byte content light level (MaxCLL, MaxFALL).
std::optional<std::string> maxCllParameter(const std::optional<Bytes>& level) {
    if (!level || level->size() != 4)
        return std::nullopt;
    return std::to_string(readUInt16(*level, 0)) + "," + std::to_string(readUInt16(*level, 2));
}

}  // namespace

std::expected<std::unique_ptr<LibavVideoEncoder>, VideoEncoderError> LibavVideoEncoder::open(
    const VideoEncoderConfiguration& configuration, const Options& options,
    asio::any_io_executor outputExecutor, VideoEncoderOutputHandler onOutput) {
    if (configuration.width == 0 || configuration.height == 0 || configuration.width > 16384 ||
        configuration.height > 16384 ||
        (configuration.inputPixelFormat != pixelFormatBGRA &&
         configuration.inputPixelFormat != pixelFormatARGB2101010))
        return std::unexpected(VideoEncoderError{AVERROR(EINVAL)});
    std::unique_ptr<LibavVideoEncoder> encoder(
        new LibavVideoEncoder(configuration, std::move(outputExecutor), std::move(onOutput)));
    const int status = encoder->worker_.sync([&] { return encoder->openCodec(options); });
    if (status < 0)
        return std::unexpected(VideoEncoderError{status});
    return encoder;
}

LibavVideoEncoder::LibavVideoEncoder(const VideoEncoderConfiguration& configuration,
                                     asio::any_io_executor outputExecutor, VideoEncoderOutputHandler onOutput)
    : configuration_(configuration),
      outputExecutor_(std::move(outputExecutor)),
      onOutput_(std::move(onOutput)) {}

LibavVideoEncoder::~LibavVideoEncoder() {
    close();
    worker_.sync([this] { releaseCodec(); });
}

int LibavVideoEncoder::openCodec(const Options& options) {
    const auto& colors = configuration_.colorProperties;
    isTenBit_ = configuration_.codec == StreamCodec::hevc && colors && colors->isHDR();

    if (options.vaapiRenderNode && !isTenBit_) {
        if (openHardwareDevice(*options.vaapiRenderNode) >= 0)
            return 0;
        logger().notice("VAAPI encoding unavailable on ", *options.vaapiRenderNode, "; encoding in software");
        releaseCodec();
    }
    return openSoftwareEncoder(options.threadCount);
}

int LibavVideoEncoder::openSoftwareEncoder(int threadCount) {
    encoderName_ = configuration_.codec == StreamCodec::hevc ? "libx265" : "libx264";
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName_.c_str());
    if (codec == nullptr)
        return AVERROR_ENCODER_NOT_FOUND;
    context_ = avcodec_alloc_context3(codec);
    if (context_ == nullptr)
        return AVERROR(ENOMEM);
    context_->pix_fmt = isTenBit_ ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
    context_->thread_count = threadCount;
    applyStreamSettings();
    HdrMetadata metadata;
    if (configuration_.codec == StreamCodec::hevc)
        metadata = applyX265Settings();
    else
        applyX264Settings();
    const int status = avcodec_open2(context_, codec, nullptr);
    if (status < 0) {
        releaseCodec();
        return status;
    }
    return allocatePictureAndFormat(context_->pix_fmt, metadata);
}

// The settings every encoder shares: size, timing, rate control and the colour description.
void LibavVideoEncoder::applyStreamSettings() {
    context_->width = static_cast<int>(configuration_.width);
    context_->height = static_cast<int>(configuration_.height);
    const int frameRate = configuration_.frameRate > 0 ? configuration_.frameRate : 60;
    context_->time_base = AVRational{1, frameRate};
    context_->framerate = AVRational{frameRate, 1};
    context_->max_b_frames = 0;
    if (configuration_.averageBitRate > 0) {
        context_->bit_rate = configuration_.averageBitRate;
        // No more than one second's worth of data in any second.
        context_->rc_max_rate = configuration_.averageBitRate;
        context_->rc_buffer_size =
            static_cast<int>(std::min<std::int64_t>(configuration_.averageBitRate, INT32_MAX));
    }
    // The stream's colours: the conversion's matrix and range, the frame's primaries and transfer function.
    context_->colorspace = isTenBit_ ? AVCOL_SPC_BT2020_NCL : AVCOL_SPC_SMPTE170M;
    context_->color_range = AVCOL_RANGE_MPEG;
    const auto& colors = configuration_.colorProperties;
    if (colors && colors->colorPrimaries)
        context_->color_primaries =
            VideoColorMapping::primaries(*colors->colorPrimaries).value_or(AVCOL_PRI_UNSPECIFIED);
    if (colors && colors->transferFunction)
        context_->color_trc =
            VideoColorMapping::transfer(*colors->transferFunction).value_or(AVCOL_TRC_UNSPECIFIED);
}

LibavVideoEncoder::HdrMetadata LibavVideoEncoder::applyX265Settings() {
    void* settings = context_->priv_data;
    av_opt_set(settings, "preset", "ultrafast", 0);
    av_opt_set(settings, "tune", "zerolatency", 0);
    av_opt_set(settings, "profile", isTenBit_ ? "main10" : "main", 0);
    av_opt_set_int(settings, "forced-idr", 1, 0);
    std::string parameters =
        "log-level=error:keyint=-1:min-keyint=1:scenecut=0:open-gop=0:frame-threads=1:bframes=0:"
        "repeat-headers=1:aud=0:info=0";
    HdrMetadata metadata;
    if (isTenBit_) {
        const auto& colors = configuration_.colorProperties;
        const auto masterDisplay = masterDisplayParameter(colors->masteringDisplayColorVolume);
        const auto maxCll = maxCllParameter(colors->contentLightLevelInfo);
        parameters += ":hdr10=1";
        if (masterDisplay) {
            parameters += ":master-display=" + *masterDisplay;
            metadata.masteringDisplayColorVolume = colors->masteringDisplayColorVolume;
        }
        if (maxCll) {
            parameters += ":max-cll=" + *maxCll;
            metadata.contentLightLevelInfo = colors->contentLightLevelInfo;
        }
    }
    av_opt_set(settings, "x265-params", parameters.c_str(), 0);
    return metadata;
}

void LibavVideoEncoder::applyX264Settings() {
    void* settings = context_->priv_data;
    // "superfast" rather than "ultrafast": the fastest preset drops to the constrained baseline profile.
    av_opt_set(settings, "preset", "superfast", 0);
    av_opt_set(settings, "tune", "zerolatency", 0);
    av_opt_set(settings, "profile", "high", 0);
    av_opt_set_int(settings, "forced-idr", 1, 0);
    av_opt_set(settings, "x264-params", "keyint=infinite:scenecut=0:aud=0:bframes=0", 0);
}

int LibavVideoEncoder::openHardwareDevice(const std::string& renderNode) {
    const bool isHEVC = configuration_.codec == StreamCodec::hevc;
    encoderName_ = isHEVC ? "hevc_vaapi" : "h264_vaapi";
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName_.c_str());
    if (codec == nullptr)
        return AVERROR_ENCODER_NOT_FOUND;
    int status =
        av_hwdevice_ctx_create(&hardwareDevice_, AV_HWDEVICE_TYPE_VAAPI, renderNode.c_str(), nullptr, 0);
    if (status < 0)
        return status;
    AVBufferRef* frames = av_hwframe_ctx_alloc(hardwareDevice_);
    if (frames == nullptr)
        return AVERROR(ENOMEM);
    auto* framesContext = reinterpret_cast<AVHWFramesContext*>(frames->data);
    framesContext->format = AV_PIX_FMT_VAAPI;
    framesContext->sw_format = AV_PIX_FMT_NV12;
    framesContext->width = static_cast<int>(configuration_.width);
    framesContext->height = static_cast<int>(configuration_.height);
    framesContext->initial_pool_size = 4;
    status = av_hwframe_ctx_init(frames);
    if (status < 0) {
        av_buffer_unref(&frames);
        return status;
    }
    context_ = avcodec_alloc_context3(codec);
    if (context_ == nullptr) {
        av_buffer_unref(&frames);
        return AVERROR(ENOMEM);
    }
    context_->hw_frames_ctx = frames;
    context_->pix_fmt = AV_PIX_FMT_VAAPI;
    applyStreamSettings();
    // No automatic key frames within any realistic session.
    context_->gop_size = INT32_MAX / 2;
    context_->profile = isHEVC ? FF_PROFILE_HEVC_MAIN : FF_PROFILE_H264_HIGH;
    av_opt_set_int(context_->priv_data, "async_depth", 1, 0);
    av_opt_set_int(context_->priv_data, "aud", 0, 0);
    status = avcodec_open2(context_, codec, nullptr);
    if (status < 0)
        return status;
    // Frames are converted to NV12 in memory, then uploaded to the device.
    return allocatePictureAndFormat(AV_PIX_FMT_NV12, HdrMetadata{});
}

int LibavVideoEncoder::allocatePictureAndFormat(int pictureFormat, const HdrMetadata& metadata) {
    picture_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (picture_ == nullptr || packet_ == nullptr)
        return AVERROR(ENOMEM);
    picture_->format = pictureFormat;
    picture_->width = context_->width;
    picture_->height = context_->height;
    if (const int allocated = av_frame_get_buffer(picture_, 0); allocated < 0)
        return allocated;

    auto format = std::make_shared<VideoEncoderOutputFormat>();
    format->codec = configuration_.codec;
    format->width = configuration_.width;
    format->height = configuration_.height;
    VideoColorProperties written;
    written.colorPrimaries = VideoColorMapping::primariesName(context_->color_primaries);
    written.transferFunction = VideoColorMapping::transferName(context_->color_trc);
    written.yCbCrMatrix = VideoColorMapping::matrixName(context_->colorspace);
    written.fullRangeVideo = false;
    written.masteringDisplayColorVolume = metadata.masteringDisplayColorVolume;
    written.contentLightLevelInfo = metadata.contentLightLevelInfo;
    format->colorProperties = written;
    format_ = std::move(format);
    return 0;
}

void LibavVideoEncoder::releaseCodec() {
    avcodec_free_context(&context_);
    av_buffer_unref(&hardwareDevice_);
    av_frame_free(&picture_);
    av_packet_free(&packet_);
}

bool LibavVideoEncoder::encode(VideoEncoderInput input) {
    if (closed_.load() || !input.pixels || input.pixels->width != configuration_.width ||
        input.pixels->height != configuration_.height ||
        input.pixels->pixelFormat != configuration_.inputPixelFormat)
        return false;
    if (queuedFrames_.fetch_add(1) >= maximumQueuedFrames) {
        queuedFrames_.fetch_sub(1);
        return false;
    }
    worker_.async([this, input = std::move(input)] {
        encodeOnWorker(input);
        queuedFrames_.fetch_sub(1);
    });
    return true;
}

void LibavVideoEncoder::flush() {
    worker_.sync([] {});
}

void LibavVideoEncoder::close() {
    closed_.store(true);
    // Frames queued before this point see the flag and are dropped; the one being encoded finishes first.
    worker_.sync([] {});
}

void LibavVideoEncoder::post(VideoEncoderOutput output) {
    asio::post(outputExecutor_,
               [handler = onOutput_, output = std::move(output)]() mutable { handler(std::move(output)); });
}

void LibavVideoEncoder::encodeOnWorker(const VideoEncoderInput& input) {
    if (closed_.load())
        return;
    auto fail = [&] { post(VideoEncoderOutput{input.generation, false, std::nullopt}); };
    if (context_ == nullptr || av_frame_make_writable(picture_) < 0 ||
        !converter_.convert(*input.pixels, *picture_)) {
        fail();
        return;
    }
    FrameStageTrace::stamp(FrameStage::conversionDone, input.presentationTimeNanoseconds);
    AVFrame* submitted = picture_;
    AVFrame* hardwareFrame = nullptr;
    if (context_->hw_frames_ctx != nullptr) {
        hardwareFrame = av_frame_alloc();
        if (hardwareFrame == nullptr ||
            av_hwframe_get_buffer(context_->hw_frames_ctx, hardwareFrame, 0) < 0 ||
            av_hwframe_transfer_data(hardwareFrame, picture_, 0) < 0) {
            av_frame_free(&hardwareFrame);
            fail();
            return;
        }
        submitted = hardwareFrame;
    }
    const std::int64_t index = nextIndex_++;
    submitted->pts = index;
    submitted->pict_type = input.forceKeyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    pending_.push_back(PendingFrame{index, input.presentationTimeNanoseconds, input.generation});
    const int status = avcodec_send_frame(context_, submitted);
    av_frame_free(&hardwareFrame);
    if (status < 0) {
        pending_.pop_back();
        fail();
        return;
    }
    receivePackets();
}

void LibavVideoEncoder::receivePackets() {
    while (avcodec_receive_packet(context_, packet_) == 0) {
        const std::int64_t index = packet_->pts;
        // Frames before this one that gave no packet were dropped by the encoder.
        while (!pending_.empty() && pending_.front().index < index) {
            post(VideoEncoderOutput{pending_.front().generation, true, std::nullopt});
            pending_.pop_front();
        }
        if (pending_.empty() || pending_.front().index != index) {
            av_packet_unref(packet_);
            continue;
        }
        const auto frame = pending_.front();
        pending_.pop_front();
        FrameStageTrace::stamp(FrameStage::encoderOut, frame.presentationTimeNanoseconds);
        auto unit = AnnexBAccessUnit::fromAnnexB(
            ByteView(packet_->data, static_cast<std::size_t>(packet_->size)), configuration_.codec);
        if (!unit.parameterSets.empty() && unit.parameterSets != format_->parameterSets) {
            auto format = std::make_shared<VideoEncoderOutputFormat>(*format_);
            format->parameterSets = std::move(unit.parameterSets);
            format_ = std::move(format);
        }
        EncodedVideoSample sample;
        sample.payload = std::move(unit.payload);
        sample.isKeyFrame = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
        sample.presentationTimeNanoseconds = frame.presentationTimeNanoseconds;
        sample.format = format_;
        av_packet_unref(packet_);
        post(VideoEncoderOutput{frame.generation, true, std::move(sample)});
    }
}

}  // namespace quillbridge
