#pragma once

#include <expected>

#include <asio/awaitable.hpp>

#include "capture/CaptureContentFilter.hpp"
#include "capture/CaptureStreamConfiguration.hpp"
#include "capture/CaptureStreamFailure.hpp"
#include "capture/CaptureStreamOutputType.hpp"

namespace quillbridge {

// One platform capture stream of one display (and the system audio), created stopped by a
// CaptureStreamFactory. Its asynchronous operations complete on the awaiting coroutine's executor and throw
// CaptureStreamError when the platform refuses them. Not thread-safe: one owner calls it.
class CaptureStream {
public:
    virtual ~CaptureStream() = default;

    // Asks for samples of a type; a refusal leaves the stream unchanged. Called before startCapture.
    virtual std::expected<void, CaptureStreamFailure> addStreamOutput(CaptureStreamOutputType type) = 0;
    // Starts delivering samples to the stream's output.
    virtual asio::awaitable<void> startCapture() = 0;
    // Stops delivering samples; once it has completed no sample or stop report reaches the output. Stopping
    // a stream that is not running (or is still starting) is allowed and leaves it stopped.
    virtual asio::awaitable<void> stopCapture() = 0;
    virtual asio::awaitable<void> updateConfiguration(const CaptureStreamConfiguration& configuration) = 0;
    virtual asio::awaitable<void> updateContentFilter(const CaptureContentFilter& filter) = 0;
};

}  // namespace quillbridge
