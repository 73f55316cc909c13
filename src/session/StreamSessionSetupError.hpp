#pragma once

#include <stdexcept>

namespace quillbridge {

// The headset did not become ready in time after connecting.
class StreamSessionSetupError : public std::runtime_error {
public:
    enum class Code { timedOut };

    explicit StreamSessionSetupError(Code code)
        : std::runtime_error("The session was not set up in time"), code_(code) {}
    Code code() const { return code_; }

private:
    Code code_;
};

}  // namespace quillbridge
