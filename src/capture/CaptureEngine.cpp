#include "capture/CaptureEngine.hpp"

#include <exception>
#include <utility>

#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/system_error.hpp>

#include "capture/CaptureStreamError.hpp"
#include "core/Task.hpp"

namespace quillbridge {

std::shared_ptr<CaptureEngine> CaptureEngine::create(asio::any_io_executor mainActor,
                                                     std::shared_ptr<CaptureStreamFactory> factory) {
    return std::shared_ptr<CaptureEngine>(new CaptureEngine(std::move(mainActor), std::move(factory)));
}

CaptureEngine::CaptureEngine(asio::any_io_executor mainActor, std::shared_ptr<CaptureStreamFactory> factory)
    : mainActor_(std::move(mainActor)),
      factory_(std::move(factory)),
      screenFrameHandler_(
          std::make_shared<SynchronizedHandler<void(std::shared_ptr<const CapturedVideoFrame>)>>()),
      audioBufferHandler_(
          std::make_shared<SynchronizedHandler<void(std::shared_ptr<const AudioPCMBuffer>)>>()) {}

asio::awaitable<std::uint64_t> CaptureEngine::startCapture(CaptureStreamConfiguration configuration,
                                                           CaptureContentFilter filter) {
    auto self = shared_from_this();
    if (stream_) {
        co_await stopCapture(std::nullopt);
    }
    const std::uint64_t generation = ++streamGeneration_;
    activeStreamGeneration_ = generation;

    auto output = std::make_shared<CaptureEngineStreamOutput>();
    streamOutput_ = output;
    output->screenFrameHandler.set(
        [handler = std::weak_ptr(screenFrameHandler_)](std::shared_ptr<const CapturedVideoFrame> frame) {
            if (auto current = handler.lock()) {
                (*current)(std::move(frame));
            }
        });
    output->pcmBufferHandler.set(
        [handler = std::weak_ptr(audioBufferHandler_)](std::shared_ptr<const AudioPCMBuffer> buffer) {
            if (auto current = handler.lock()) {
                (*current)(std::move(buffer));
            }
        });
    output->streamStoppedHandler.set(
        [engine = weak_from_this(), executor = mainActor_, generation](const CaptureStreamFailure& failure) {
            asio::post(executor, [engine, failure, generation] {
                if (auto strong = engine.lock()) {
                    strong->handleStreamStopped(failure, generation);
                }
            });
        });

    auto stream = factory_->makeStream(filter, configuration, output);
    if (!stream) {
        failStart(generation);
        throw CaptureStreamError(CaptureStreamFailure{std::string(captureStreamErrorDomain),
                                                      captureStreamErrorCode::startFailed,
                                                      "The capture stream could not be created."});
    }
    stream_ = stream;

    for (auto type : {CaptureStreamOutputType::screen, CaptureStreamOutputType::audio}) {
        if (type == CaptureStreamOutputType::audio && !configuration.capturesAudio) {
            continue;
        }
        auto added = stream->addStreamOutput(type);
        if (!added) {
            failStart(generation);
            throw CaptureStreamError(added.error());
        }
    }

    std::exception_ptr startError;
    try {
        co_await stream->startCapture();
    } catch (...) {
        startError = std::current_exception();
    }
    if (startError) {
        failStart(generation);
        std::rethrow_exception(startError);
    }

    if (activeStreamGeneration_ != generation) {
        // A stop or another start ran while this stream was starting: it owns the engine's state now. The
        // stream it stopped may have come up after that stop; make sure it does not run on unowned.
        if (stream_ != stream) {
            co_await stopStream(stream);
        }
        throw asio::system_error(asio::error::operation_aborted);
    }
    co_return generation;
}

void CaptureEngine::failStart(std::uint64_t generation) {
    if (activeStreamGeneration_ == generation) {
        detachStream();
    }
}

asio::awaitable<void> CaptureEngine::stopCapture(std::optional<std::uint64_t> generation) {
    auto self = shared_from_this();
    if (generation && activeStreamGeneration_ != generation) {
        co_return;
    }
    ++streamGeneration_;
    if (!stream_) {
        detachStream();
        co_return;
    }
    auto stream = stream_;
    detachStream();
    co_await stopStream(std::move(stream));
}

asio::awaitable<void> CaptureEngine::stopStream(std::shared_ptr<CaptureStream> stream) {
    std::exception_ptr stopError;
    try {
        co_await stream->stopCapture();
    } catch (...) {
        stopError = std::current_exception();
    }
    if (!stopError) {
        co_return;
    }
    if (isOperationAborted(stopError)) {
        std::rethrow_exception(stopError);
    }
    try {
        std::rethrow_exception(stopError);
    } catch (const std::exception& error) {
        logger_.error("Failed to stop capture: ", error.what());
    } catch (...) {
        logger_.error("Failed to stop capture: unknown error");
    }
}

asio::awaitable<void> CaptureEngine::update(CaptureStreamConfiguration configuration,
                                            CaptureContentFilter filter) {
    auto self = shared_from_this();
    if (!stream_) {
        co_return;
    }
    auto stream = stream_;
    co_await stream->updateConfiguration(configuration);
    co_await stream->updateContentFilter(filter);
}

void CaptureEngine::handleStreamStopped(const CaptureStreamFailure& failure, std::uint64_t generation) {
    if (activeStreamGeneration_ != generation) {
        return;
    }
    logger_.error("Capture stream stopped with error: ", failure.message);
    detachStream();
    if (captureStoppedHandler_) {
        captureStoppedHandler_(failure);
    }
}

void CaptureEngine::detachStream() {
    if (streamOutput_) {
        streamOutput_->pcmBufferHandler.clear();
        streamOutput_->screenFrameHandler.clear();
        streamOutput_->streamStoppedHandler.clear();
    }
    streamOutput_.reset();
    stream_.reset();
    activeStreamGeneration_.reset();
}

}  // namespace quillbridge
