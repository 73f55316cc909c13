#pragma once

#include <gtest/gtest.h>

#include "support/BoundedEventLoop.hpp"

namespace quillbridge {

// The event loop of the loopback broadcaster tests: the broadcaster and its tasks run on `context`, which the
// test turns by hand while it waits for a condition or for an awaitable to finish.
class LoopbackEventLoop : public ::testing::Test, public BoundedEventLoop {};

}  // namespace quillbridge
