#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "capture/CaptureContentFilter.hpp"
#include "capture/CaptureEngineStreamOutput.hpp"
#include "capture/CaptureStream.hpp"
#include "capture/CaptureStreamConfiguration.hpp"
#include "capture/CaptureStreamFactory.hpp"
#include "capture/CaptureStreamFailure.hpp"
#include "capture/SynchronizedHandler.hpp"
#include "core/Logger.hpp"

namespace quillbridge {

// Owns the host's one capture stream. Every start is stamped with a generation so that reports and
// completions of a stream that has since been stopped or replaced are recognised and ignored.
//
// Its operations run on the main actor (the executor given at creation); the sample handlers are called on
// the stream's sample threads and must return at once. Handlers may be installed and cleared at any time
// from the main actor; a sample thread sees either the old or the new handler.
class CaptureEngine : public std::enable_shared_from_this<CaptureEngine> {
public:
    using ScreenFrameHandler = std::function<void(std::shared_ptr<const CapturedVideoFrame>)>;
    using AudioBufferHandler = std::function<void(std::shared_ptr<const AudioPCMBuffer>)>;
    using CaptureStoppedHandler = std::function<void(const CaptureStreamFailure&)>;

    static std::shared_ptr<CaptureEngine> create(asio::any_io_executor mainActor,
                                                 std::shared_ptr<CaptureStreamFactory> factory);

    CaptureEngine(const CaptureEngine&) = delete;
    CaptureEngine& operator=(const CaptureEngine&) = delete;

    // Starts a stream of the display (stopping a running one first) and returns its generation. Throws
    // CaptureStreamError when the stream refuses an output or fails to start, and
    // asio::system_error(operation_aborted) when a stop or another start overtook this one while the stream
    // was starting; the overtaken stream is then stopped again unless it is still the attached one.
    asio::awaitable<std::uint64_t> startCapture(CaptureStreamConfiguration configuration,
                                                CaptureContentFilter filter);
    // Stops the stream of that generation, or whatever runs when no generation is given. A generation that
    // is not the active one changes nothing. Never throws (a platform failure is logged).
    asio::awaitable<void> stopCapture(std::optional<std::uint64_t> generation = std::nullopt);
    // Re-applies configuration and filter to the running stream; nothing without one. Throws
    // CaptureStreamError; a refused configuration leaves the filter unapplied.
    asio::awaitable<void> update(CaptureStreamConfiguration configuration, CaptureContentFilter filter);

    void setScreenFrameHandler(ScreenFrameHandler handler) { screenFrameHandler_->set(std::move(handler)); }
    void setAudioBufferHandler(AudioBufferHandler handler) { audioBufferHandler_->set(std::move(handler)); }
    // Told, on the main actor, when the platform stopped the current stream with an error.
    void setCaptureStoppedHandler(CaptureStoppedHandler handler) {
        captureStoppedHandler_ = std::move(handler);
    }

    std::uint64_t streamGeneration() const { return streamGeneration_; }
    std::optional<std::uint64_t> activeStreamGeneration() const { return activeStreamGeneration_; }
    bool hasStream() const { return stream_ != nullptr; }

private:
    CaptureEngine(asio::any_io_executor mainActor, std::shared_ptr<CaptureStreamFactory> factory);

    void handleStreamStopped(const CaptureStreamFailure& failure, std::uint64_t generation);
    void detachStream();
    void failStart(std::uint64_t generation);
    asio::awaitable<void> stopStream(std::shared_ptr<CaptureStream> stream);

    Logger logger_{"CaptureEngine"};
    asio::any_io_executor mainActor_;
    std::shared_ptr<CaptureStreamFactory> factory_;
    std::shared_ptr<CaptureStream> stream_;
    std::shared_ptr<CaptureEngineStreamOutput> streamOutput_;
    std::uint64_t streamGeneration_ = 0;
    std::optional<std::uint64_t> activeStreamGeneration_;
    // Shared with the stream outputs, which hold them weakly.
    std::shared_ptr<SynchronizedHandler<void(std::shared_ptr<const CapturedVideoFrame>)>> screenFrameHandler_;
    std::shared_ptr<SynchronizedHandler<void(std::shared_ptr<const AudioPCMBuffer>)>> audioBufferHandler_;
    CaptureStoppedHandler captureStoppedHandler_;
};

}  // namespace quillbridge
