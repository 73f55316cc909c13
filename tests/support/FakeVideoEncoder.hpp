#pragma once

// A scripted video encoder: it records what it is given and produces an output only when the test says so,
// posting it the way a real encoder does. Single-threaded: used from the thread that runs the executor.

#include <cstdint>
#include <deque>
#include <expected>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <asio/post.hpp>

#include "session/VideoEncoderFactory.hpp"

namespace quillbridge {

class FakeVideoEncoder final : public VideoEncoder {
public:
    FakeVideoEncoder(VideoEncoderConfiguration configuration, asio::any_io_executor executor,
                     VideoEncoderOutputHandler handler)
        : configuration(std::move(configuration)),
          executor_(std::move(executor)),
          handler_(std::move(handler)) {}

    bool encode(VideoEncoderInput input) override {
        if (closed || refuseFrames) {
            return false;
        }
        submitted.push_back(input);
        waiting_.push_back(std::move(input));
        return true;
    }
    void flush() override { ++flushCount; }
    void close() override {
        closed = true;
        waiting_.clear();
    }

    // Frames accepted and not yet answered.
    std::size_t waitingCount() const { return waiting_.size(); }

    // Answers the oldest waiting frame with an encoded sample of `format` (posted, not yet handled).
    void emit(std::shared_ptr<const VideoEncoderOutputFormat> format, Bytes payload = {0, 0, 0, 1, 0x65},
              std::optional<bool> isKeyFrame = std::nullopt) {
        auto input = takeWaiting();
        EncodedVideoSample sample;
        sample.payload = std::move(payload);
        sample.isKeyFrame = isKeyFrame.value_or(input.forceKeyFrame);
        sample.presentationTimeNanoseconds = input.presentationTimeNanoseconds;
        sample.format = std::move(format);
        post(VideoEncoderOutput{input.generation, true, std::move(sample)});
    }
    // Answers the oldest waiting frame with a failure.
    void fail() { post(VideoEncoderOutput{takeWaiting().generation, false, std::nullopt}); }
    // Posts an output as it is, whatever was submitted (late outputs of a discarded encoder).
    void post(VideoEncoderOutput output) {
        asio::post(executor_, [handler = handler_, output = std::move(output)]() mutable {
            handler(std::move(output));
        });
    }

    VideoEncoderConfiguration configuration;
    std::vector<VideoEncoderInput> submitted;
    bool refuseFrames = false;
    bool closed = false;
    int flushCount = 0;

private:
    VideoEncoderInput takeWaiting() {
        auto input = std::move(waiting_.front());
        waiting_.pop_front();
        return input;
    }

    asio::any_io_executor executor_;
    VideoEncoderOutputHandler handler_;
    std::deque<VideoEncoderInput> waiting_;
};

// What the encoder's user owns; the factory keeps the encoder itself so that tests can still look at it
// (and post late outputs from it) after its user let go.
class FakeVideoEncoderHandle final : public VideoEncoder {
public:
    explicit FakeVideoEncoderHandle(std::shared_ptr<FakeVideoEncoder> encoder)
        : encoder_(std::move(encoder)) {}
    ~FakeVideoEncoderHandle() override { encoder_->close(); }

    bool encode(VideoEncoderInput input) override { return encoder_->encode(std::move(input)); }
    void flush() override { encoder_->flush(); }
    void close() override { encoder_->close(); }

private:
    std::shared_ptr<FakeVideoEncoder> encoder_;
};

class FakeVideoEncoderFactory final : public VideoEncoderFactory {
public:
    std::expected<std::unique_ptr<VideoEncoder>, VideoEncoderError> makeEncoder(
        const VideoEncoderConfiguration& configuration, asio::any_io_executor outputExecutor,
        VideoEncoderOutputHandler onOutput) override {
        configurations.push_back(configuration);
        if (failuresLeft > 0) {
            --failuresLeft;
            return std::unexpected(VideoEncoderError{-22});
        }
        auto encoder =
            std::make_shared<FakeVideoEncoder>(configuration, std::move(outputExecutor), std::move(onOutput));
        encoders.push_back(encoder);
        return std::make_unique<FakeVideoEncoderHandle>(std::move(encoder));
    }

    FakeVideoEncoder& latest() { return *encoders.back(); }

    std::vector<VideoEncoderConfiguration> configurations;
    std::vector<std::shared_ptr<FakeVideoEncoder>> encoders;
    int failuresLeft = 0;
};

}  // namespace quillbridge
