#pragma once

#include <stdexcept>
#include <utility>

#include "capture/CaptureStreamFailure.hpp"

namespace quillbridge {

// A capture stream operation that failed, thrown from the stream's asynchronous operations.
class CaptureStreamError : public std::runtime_error {
public:
    explicit CaptureStreamError(CaptureStreamFailure failure)
        : std::runtime_error(failure.message), failure_(std::move(failure)) {}

    const CaptureStreamFailure& failure() const { return failure_; }

private:
    CaptureStreamFailure failure_;
};

}  // namespace quillbridge
