#pragma once

#include <stdexcept>
#include <string>

namespace quillbridge {

// Why the session gave up on a stream the headset opened (or on a clipboard stream's answer).
enum class PersonaCameraTransportError {
    invalidStreamKind,
    invalidFrameHeader,
    invalidPayloadLength,
};

class PersonaCameraTransportException : public std::runtime_error {
public:
    explicit PersonaCameraTransportException(PersonaCameraTransportError error)
        : std::runtime_error(description(error)), error_(error) {}

    PersonaCameraTransportError error() const noexcept { return error_; }

    static std::string description(PersonaCameraTransportError error) {
        switch (error) {
            case PersonaCameraTransportError::invalidStreamKind:
                return "The stream is of an invalid kind.";
            case PersonaCameraTransportError::invalidFrameHeader:
                return "The frame header is invalid.";
            case PersonaCameraTransportError::invalidPayloadLength:
                return "The payload length is invalid.";
        }
        return "The stream is invalid.";
    }

private:
    PersonaCameraTransportError error_;
};

}  // namespace quillbridge
