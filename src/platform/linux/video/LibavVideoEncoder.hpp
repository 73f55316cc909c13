#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <expected>
#include <memory>
#include <optional>
#include <string>

#include <asio/any_io_executor.hpp>

#include "core/SerialQueue.hpp"
#include "platform/linux/video/VideoFrameConverter.hpp"
#include "session/VideoEncoder.hpp"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVBufferRef;

namespace quillbridge {

// A VideoEncoder on libavcodec: libx264 for H.264, libx265 for HEVC (Main, or Main10 for HDR colours), or
// the VAAPI encoders when a render node is given. Set up for the lowest delay: one output per input frame,
// no B-frames, no automatic key frames (only the first frame and forced ones are IDR pictures), rate
// control at the configured average with the same amount as the limit per second.
//
// The conversion to YUV and the encoding run on the encoder's own thread; outputs are posted to the output
// executor. The bitstream's colour description (VUI) carries the configuration's primaries and transfer
// function, and the matrix and range the conversion used; HDR HEVC streams also carry the mastering display
// and content light level SEI messages.
class LibavVideoEncoder final : public VideoEncoder {
public:
    struct Options {
        // Threads of the software encoders.
        int threadCount = 4;
        // A DRM render node (/dev/dri/renderD128) for VAAPI; software when absent. HDR streams always use
        // software (10-bit).
        std::optional<std::string> vaapiRenderNode;
    };

    static std::expected<std::unique_ptr<LibavVideoEncoder>, VideoEncoderError> open(
        const VideoEncoderConfiguration& configuration, const Options& options,
        asio::any_io_executor outputExecutor, VideoEncoderOutputHandler onOutput);

    ~LibavVideoEncoder() override;

    bool encode(VideoEncoderInput input) override;
    void flush() override;
    void close() override;

    // The libavcodec encoder in use ("libx264", "libx265", "h264_vaapi", "hevc_vaapi").
    const std::string& encoderName() const { return encoderName_; }

private:
    struct PendingFrame {
        std::int64_t index = 0;
        std::uint64_t presentationTimeNanoseconds = 0;
        std::uint64_t generation = 0;
    };

    // The HDR metadata the bitstream carries, as the output format announces it.
    struct HdrMetadata {
        std::optional<Bytes> masteringDisplayColorVolume;
        std::optional<Bytes> contentLightLevelInfo;
    };

    LibavVideoEncoder(const VideoEncoderConfiguration& configuration, asio::any_io_executor outputExecutor,
                      VideoEncoderOutputHandler onOutput);
    int openCodec(const Options& options);
    int openSoftwareEncoder(int threadCount);
    int openHardwareDevice(const std::string& renderNode);
    void applyStreamSettings();
    HdrMetadata applyX265Settings();
    void applyX264Settings();
    // The picture frames are converted into (`pictureFormat`, an AVPixelFormat) and the output format.
    int allocatePictureAndFormat(int pictureFormat, const HdrMetadata& metadata);
    void encodeOnWorker(const VideoEncoderInput& input);
    void receivePackets();
    void post(VideoEncoderOutput output);
    void releaseCodec();

    VideoEncoderConfiguration configuration_;
    asio::any_io_executor outputExecutor_;
    VideoEncoderOutputHandler onOutput_;
    std::string encoderName_;
    bool isTenBit_ = false;

    // Touched only on the worker once open.
    AVCodecContext* context_ = nullptr;
    AVBufferRef* hardwareDevice_ = nullptr;
    AVFrame* picture_ = nullptr;
    AVPacket* packet_ = nullptr;
    VideoFrameConverter converter_;
    std::deque<PendingFrame> pending_;
    std::int64_t nextIndex_ = 0;
    std::shared_ptr<const VideoEncoderOutputFormat> format_;

    std::atomic<bool> closed_{false};
    std::atomic<int> queuedFrames_{0};
    // Declared last: its thread stops before the state above goes away.
    SerialQueue worker_{"video encoder"};
};

}  // namespace quillbridge
