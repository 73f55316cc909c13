#pragma once

#include <string_view>

#include <gtest/gtest.h>

#include "core/Bytes.hpp"
#include "session/QuicStream.hpp"
#include "support/BoundedEventLoop.hpp"
#include "wire/ControlMessageFraming.hpp"

namespace quillbridge {

// The event loop of the loopback broadcaster tests: the broadcaster and its tasks run on `context`, which the
// test turns by hand while it waits for a condition or for an awaitable to finish.
class LoopbackEventLoop : public ::testing::Test, public BoundedEventLoop {
public:
    // The next control message on a headset's control stream; nothing when its JSON does not decode.
    JsonResult<StreamControlMessage> readControlMessage(QuicStream& control) {
        const Bytes data = run(ControlMessageFraming::readMessageData(control));
        return decodeJson<StreamControlMessage>(
            std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    }
};

}  // namespace quillbridge
