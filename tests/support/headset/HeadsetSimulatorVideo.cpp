#include "support/headset/HeadsetSimulator.hpp"

#include "support/headset/HeadsetSimulatorSupport.hpp"

// Video: the host's media stream, its format, decoding and automatic receiver reports.

namespace quillbridge {

using namespace headset_simulator_detail;

asio::awaitable<void> HeadsetSimulator::readVideoStream(std::shared_ptr<QuicStream> stream,
                                                        std::shared_ptr<bool> alive) {
    for (;;) {
        const auto headerBytes = co_await stream->receiveExactly(VideoFrameStreamHeader::byteCount);
        if (!*alive || headerBytes.data.size() < VideoFrameStreamHeader::byteCount) {
            co_return;
        }
        const auto header = readHostVideoHeader(headerBytes.data);
        if (!header || header->payloadByteCount > maximumVideoPayloadBytes) {
            lastVideoDecodeError_ = "the media stream carries a frame header the headset cannot read";
            stream->stopSending(0);
            notifyChange();
            co_return;
        }
        auto payload = co_await stream->receiveExactly(header->payloadByteCount);
        if (!*alive || payload.data.size() < header->payloadByteCount) {
            co_return;
        }
        receivedVideoFrames_.push_back(
            {header->frameID, header->presentationTimeNanoseconds, header->isKeyFrame, payload.data.size()});
        if (!highestVideoFrame_ || header->frameID > highestVideoFrame_->frameID) {
            highestVideoFrame_ = *header;
        }
        if (videoDecoder_) {
            decodeVideoFrame(*header, payload.data);
        } else {
            framesAwaitingFormat_.emplace_back(*header, std::move(payload.data));
            while (framesAwaitingFormat_.size() > keptFramesAwaitingFormat) {
                framesAwaitingFormat_.pop_front();
            }
        }
        notifyChange();
        if (options_.sendsReceiverReports) {
            co_await sendAutomaticReport(true);
            if (!*alive) {
                co_return;
            }
        }
    }
}

void HeadsetSimulator::takeVideoFormat(const VideoFormatDescriptionMessage& format) {
    videoFormat_ = format;
    videoDecoder_ = VideoStreamDecoder::make(format);
    videoDecoderNeedsKeyFrame_ = true;
    if (!videoDecoder_) {
        lastVideoDecodeError_ = "no decoder for the announced video format";
        return;
    }
    auto waiting = std::move(framesAwaitingFormat_);
    framesAwaitingFormat_.clear();
    for (const auto& [header, payload] : waiting) {
        decodeVideoFrame(header, payload);
    }
}

void HeadsetSimulator::decodeVideoFrame(const VideoFrameStreamHeader& header, const Bytes& payload) {
    // A decoder starts at a key frame; what comes before one cannot be shown.
    if (videoDecoderNeedsKeyFrame_ && !header.isKeyFrame) {
        return;
    }
    videoDecoderNeedsKeyFrame_ = false;
    auto picture = videoDecoder_->decode(header, payload);
    if (!picture) {
        if (!videoDecoder_->lastError().empty()) {
            ++undecodableVideoFrameCount_;
            lastVideoDecodeError_ = videoDecoder_->lastError();
        }
        return;
    }
    ++decodedVideoFrameCount_;
    decodedVideoFrames_.push_back(std::move(*picture));
    while (decodedVideoFrames_.size() > keptDecodedVideoFrames) {
        decodedVideoFrames_.pop_front();
    }
}

asio::awaitable<void> HeadsetSimulator::sendAutomaticReport(bool forVideo) {
    auto control = control_;
    if (!control) {
        co_return;
    }
    StreamReceiverReportMessage report;
    if (highestVideoFrame_) {
        report.highestReceivedFrameID = highestVideoFrame_->frameID;
        report.highestReceivedFramePresentationTimeNanoseconds =
            highestVideoFrame_->presentationTimeNanoseconds;
    }
    report.highestReceivedAudioChunkID = highestAudioChunkID_;
    if (!forVideo && !report.highestReceivedAudioChunkID) {
        co_return;
    }
    try {
        Bytes frame = ControlMessageFraming::encode(StreamControlMessage::make<Case::receiverReport>(report));
        co_await control->send(std::move(frame), false);
    } catch (const std::exception&) {
        // The control reader sees the stream end.
    }
}

}  // namespace quillbridge
