#pragma once

#include <functional>
#include <memory>

#include "bridge/DecodedPersonaCameraFrame.hpp"
#include "bridge/PersonaCameraFormatDescription.hpp"
#include "bridge/PersonaCameraSampleBuffer.hpp"

namespace quillbridge {

// Decodes the Persona frames of one format at a time, off the caller's thread: every decoded picture goes to
// the output handler (given when the decoder is made) on the decoder's own thread. Decode errors drop that
// picture only. Used from one executor at a time (the camera receiver's).
class PersonaCameraFrameDecoder {
public:
    using OutputHandler = std::function<void(DecodedPersonaCameraFrame)>;

    virtual ~PersonaCameraFrameDecoder() = default;

    // Whether a decoding session for the format exists, keeping the current one when it was made for an equal
    // format and making a new one otherwise.
    virtual bool prepare(const std::shared_ptr<const PersonaCameraFormatDescription>& formatDescription) = 0;
    // Queues the sample for the prepared session and returns at once.
    virtual void decode(PersonaCameraSampleBuffer sample) = 0;
    // Ends the session: nothing queued or decoded on it afterwards reaches the output handler.
    virtual void invalidate() = 0;
};

}  // namespace quillbridge
