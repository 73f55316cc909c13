#include "platform/linux/video/LibavPersonaCameraFrameDecoder.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <optional>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
}
#include <libyuv/convert.h>
#include <libyuv/convert_from.h>
#include <libyuv/planar_functions.h>

#include "bridge/LengthPrefixedNalUnits.hpp"

namespace quillbridge {
namespace {

constexpr AVRational nanosecondTimeBase{1, 1'000'000'000};

// Full-range samples (0...255) into video range (luma 16...235, chroma 16...240).
struct VideoRangeTables {
    std::array<std::uint8_t, 256> luma{};
    std::array<std::uint8_t, 256> chroma{};
    VideoRangeTables() {
        for (int value = 0; value < 256; ++value) {
            luma[value] = static_cast<std::uint8_t>(16 + (value * 219 + 127) / 255);
            chroma[value] = static_cast<std::uint8_t>(16 + (value * 224 + 127) / 255);
        }
    }
};

void compressRange(Bytes& plane, const std::array<std::uint8_t, 256>& table) {
    for (auto& sample : plane) {
        sample = table[sample];
    }
}

// The picture as packed NV12 in video range; nothing for a layout other than 4:2:0 at 8 or 10 bits.
std::optional<DecodedPersonaCameraFrame> toNv12(const AVFrame& picture) {
    DecodedPersonaCameraFrame frame;
    frame.width = picture.width;
    frame.height = picture.height;
    if (frame.width <= 0 || frame.height <= 0) {
        return std::nullopt;
    }
    const int chromaWidth = (frame.width + 1) / 2;
    const int chromaHeight = frame.chromaRowCount();
    frame.lumaPlane.resize(static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height));
    frame.chromaPlane.resize(static_cast<std::size_t>(frame.chromaRowByteCount()) *
                             static_cast<std::size_t>(chromaHeight));
    bool fullRange = picture.color_range == AVCOL_RANGE_JPEG;
    switch (picture.format) {
        case AV_PIX_FMT_YUVJ420P:
            fullRange = true;
            [[fallthrough]];
        case AV_PIX_FMT_YUV420P:
            libyuv::I420ToNV12(picture.data[0], picture.linesize[0], picture.data[1], picture.linesize[1],
                               picture.data[2], picture.linesize[2], frame.lumaPlane.data(), frame.width,
                               frame.chromaPlane.data(), frame.chromaRowByteCount(), frame.width,
                               frame.height);
            break;
        case AV_PIX_FMT_YUV420P10LE: {
            // Down to 8 bits (the top eight of ten), then the chroma planes interleaved.
            Bytes chromaBlue(static_cast<std::size_t>(chromaWidth) * static_cast<std::size_t>(chromaHeight));
            Bytes chromaRed(chromaBlue.size());
            libyuv::I010ToI420(
                reinterpret_cast<const std::uint16_t*>(picture.data[0]), picture.linesize[0] / 2,
                reinterpret_cast<const std::uint16_t*>(picture.data[1]), picture.linesize[1] / 2,
                reinterpret_cast<const std::uint16_t*>(picture.data[2]), picture.linesize[2] / 2,
                frame.lumaPlane.data(), frame.width, chromaBlue.data(), chromaWidth, chromaRed.data(),
                chromaWidth, frame.width, frame.height);
            libyuv::MergeUVPlane(chromaBlue.data(), chromaWidth, chromaRed.data(), chromaWidth,
                                 frame.chromaPlane.data(), frame.chromaRowByteCount(), chromaWidth,
                                 chromaHeight);
            break;
        }
        default:
            return std::nullopt;
    }
    if (fullRange) {
        static const VideoRangeTables tables;
        compressRange(frame.lumaPlane, tables.luma);
        compressRange(frame.chromaPlane, tables.chroma);
    }
    return frame;
}

}  // namespace

// One decoding session: a codec context opened for one format. Used by the worker alone once it is queued.
struct LibavPersonaCameraFrameDecoder::Session {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* picture = nullptr;
    std::atomic<bool> invalidated{false};

    ~Session() {
        av_frame_free(&picture);
        av_packet_free(&packet);
        avcodec_free_context(&context);
    }

    static std::shared_ptr<Session> open(const PersonaCameraFormatDescription& format) {
        const AVCodec* codec =
            avcodec_find_decoder(format.codec == StreamCodec::hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
        if (codec == nullptr) {
            return nullptr;
        }
        auto session = std::make_shared<Session>();
        session->context = avcodec_alloc_context3(codec);
        session->packet = av_packet_alloc();
        session->picture = av_frame_alloc();
        if (session->context == nullptr || session->packet == nullptr || session->picture == nullptr) {
            return nullptr;
        }
        // The parameter sets as Annex B extradata (zero padding behind, as the parsers read ahead).
        const Bytes parameterSets = LengthPrefixedNalUnits::annexBFromUnits(format.parameterSets);
        session->context->extradata =
            static_cast<std::uint8_t*>(av_mallocz(parameterSets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (session->context->extradata == nullptr) {
            return nullptr;
        }
        std::memcpy(session->context->extradata, parameterSets.data(), parameterSets.size());
        session->context->extradata_size = static_cast<int>(parameterSets.size());
        session->context->flags |= AV_CODEC_FLAG_LOW_DELAY;
        session->context->thread_count = 1;
        session->context->pkt_timebase = nanosecondTimeBase;
        session->context->max_pixels = maximumPixelCount;
        if (avcodec_open2(session->context, codec, nullptr) < 0) {
            return nullptr;
        }
        return session;
    }
};

LibavPersonaCameraFrameDecoder::LibavPersonaCameraFrameDecoder(OutputHandler outputHandler)
    : outputHandler_(std::move(outputHandler)), worker_([this] { run(); }) {}

LibavPersonaCameraFrameDecoder::~LibavPersonaCameraFrameDecoder() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
        invalidateLocked();
    }
    jobsChanged_.notify_all();
    worker_.join();
}

bool LibavPersonaCameraFrameDecoder::prepare(
    const std::shared_ptr<const PersonaCameraFormatDescription>& formatDescription) {
    std::lock_guard guard(lock_);
    if (session_ && activeFormatDescription_ && formatDescription &&
        *activeFormatDescription_ == *formatDescription) {
        return true;
    }
    invalidateLocked();
    if (!formatDescription) {
        return false;
    }
    auto session = Session::open(*formatDescription);
    if (!session) {
        return false;
    }
    session_ = std::move(session);
    activeFormatDescription_ = formatDescription;
    skippingUntilKeyFrame_ = false;
    return true;
}

void LibavPersonaCameraFrameDecoder::decode(PersonaCameraSampleBuffer sample) {
    {
        std::lock_guard guard(lock_);
        if (!session_ || stopping_) {
            return;
        }
        if (skippingUntilKeyFrame_ && sample.isNotSync) {
            return;
        }
        if (jobs_.size() >= maximumQueuedSamples) {
            // The decoder falls behind: the frames that depend on this one cannot be shown either.
            skippingUntilKeyFrame_ = true;
            return;
        }
        skippingUntilKeyFrame_ = false;
        jobs_.push_back(Job{session_, std::move(sample)});
    }
    jobsChanged_.notify_one();
}

void LibavPersonaCameraFrameDecoder::invalidate() {
    {
        std::lock_guard guard(lock_);
        invalidateLocked();
    }
    // Waits out a picture of the ended session that is being handed out right now.
    std::lock_guard output(outputLock_);
}

void LibavPersonaCameraFrameDecoder::invalidateLocked() {
    if (session_) {
        session_->invalidated = true;
    }
    session_.reset();
    activeFormatDescription_.reset();
    // Whatever waits belongs to this session or an earlier one.
    jobs_.clear();
}

void LibavPersonaCameraFrameDecoder::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock guard(lock_);
            jobsChanged_.wait(guard, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        decodeJob(job);
    }
}

void LibavPersonaCameraFrameDecoder::decodeJob(Job& job) {
    Session& session = *job.session;
    if (session.invalidated) {
        return;
    }
    const auto& sample = job.sample;
    AVPacket* packet = session.packet;
    if (sample.annexBPayload.empty() || sample.annexBPayload.size() > static_cast<std::size_t>(INT32_MAX) ||
        av_new_packet(packet, static_cast<int>(sample.annexBPayload.size())) < 0) {
        return;
    }
    std::memcpy(packet->data, sample.annexBPayload.data(), sample.annexBPayload.size());
    packet->pts = sample.presentationTimeNanoseconds;
    packet->dts = AV_NOPTS_VALUE;
    packet->duration = sample.durationNanoseconds;
    if (!sample.isNotSync) {
        packet->flags |= AV_PKT_FLAG_KEY;
    }
    const int sent = avcodec_send_packet(session.context, packet);
    av_packet_unref(packet);
    if (sent < 0 && sent != AVERROR(EAGAIN)) {
        // A picture the decoder refuses is dropped alone.
        return;
    }
    while (avcodec_receive_frame(session.context, session.picture) == 0) {
        auto frame = toNv12(*session.picture);
        if (frame) {
            const std::int64_t presentationTime = session.picture->pts != AV_NOPTS_VALUE
                                                      ? session.picture->pts
                                                      : session.picture->best_effort_timestamp;
            frame->presentationTimeNanoseconds =
                presentationTime != AV_NOPTS_VALUE ? presentationTime : sample.presentationTimeNanoseconds;
            frame->durationNanoseconds = session.picture->pkt_duration > 0
                                             ? session.picture->pkt_duration
                                             : PersonaCameraSampleBuffer::defaultDurationNanoseconds;
        }
        av_frame_unref(session.picture);
        if (frame && outputHandler_) {
            std::lock_guard output(outputLock_);
            if (!session.invalidated) {
                outputHandler_(std::move(*frame));
            }
        }
    }
}

}  // namespace quillbridge
