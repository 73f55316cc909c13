#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "wire/EncodedVideoFrame.hpp"
#include "wire/PersonaCameraFormatDescriptionMessage.hpp"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace quillbridge {

// The headset's Persona camera for tests: encodes pictures of one colour as H.264 with libx264 or HEVC with
// libx265 (by default every frame a key frame; never anything held back) into what the headset sends the
// host, the `personaCameraFormat` message with the parameter sets, and frames of NAL units behind 4-byte
// big-endian lengths.
class PersonaCameraTestEncoder {
public:
    struct Options {
        StreamCodec codec = StreamCodec::h264;
        // Every n-th frame a key frame.
        int keyFrameInterval = 1;
        // 10-bit samples (HEVC Main 10).
        bool tenBit = false;
        // A fine moving pattern over the colour (as busy as a camera picture) instead of a flat colour.
        bool textured = false;
    };

    // Nothing when the encoder is missing or refuses the size (both sides must be even).
    static std::unique_ptr<PersonaCameraTestEncoder> make(int width, int height, Options options);
    static std::unique_ptr<PersonaCameraTestEncoder> make(int width, int height) {
        return make(width, height, {});
    }
    ~PersonaCameraTestEncoder();
    PersonaCameraTestEncoder(const PersonaCameraTestEncoder&) = delete;
    PersonaCameraTestEncoder& operator=(const PersonaCameraTestEncoder&) = delete;

    // The format, once the first frame was encoded.
    const std::optional<PersonaCameraFormatDescriptionMessage>& format() const { return format_; }

    // One frame of the colour; nothing when the encoder failed.
    std::optional<EncodedVideoFrame> encode(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                                            std::uint64_t frameID, std::uint64_t presentationTimeNanoseconds);

private:
    PersonaCameraTestEncoder(AVCodecContext* context, AVFrame* frame, AVPacket* packet, Options options)
        : context_(context), frame_(frame), packet_(packet), options_(options) {}

    AVCodecContext* context_;
    AVFrame* frame_;
    AVPacket* packet_;
    Options options_;
    std::uint64_t frameCount_ = 0;
    std::optional<PersonaCameraFormatDescriptionMessage> format_;
};

}  // namespace quillbridge
