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

// The headset's Persona camera for tests: encodes pictures of one colour as H.264 with libx264 (every
// frame a key frame, nothing held back) into what the headset sends the host, the `personaCameraFormat`
// message with the parameter sets, and frames of NAL units behind 4-byte big-endian lengths.
class PersonaCameraTestEncoder {
public:
    // Nothing when libx264 is missing or refuses the size (both sides must be even).
    static std::unique_ptr<PersonaCameraTestEncoder> make(int width, int height);
    ~PersonaCameraTestEncoder();
    PersonaCameraTestEncoder(const PersonaCameraTestEncoder&) = delete;
    PersonaCameraTestEncoder& operator=(const PersonaCameraTestEncoder&) = delete;

    // The format, once the first frame was encoded.
    const std::optional<PersonaCameraFormatDescriptionMessage>& format() const { return format_; }

    // One frame of the colour; nothing when the encoder failed.
    std::optional<EncodedVideoFrame> encode(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                                            std::uint64_t frameID, std::uint64_t presentationTimeNanoseconds);

private:
    PersonaCameraTestEncoder(AVCodecContext* context, AVFrame* frame, AVPacket* packet)
        : context_(context), frame_(frame), packet_(packet) {}

    AVCodecContext* context_;
    AVFrame* frame_;
    AVPacket* packet_;
    std::optional<PersonaCameraFormatDescriptionMessage> format_;
};

}  // namespace quillbridge
