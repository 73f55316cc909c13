#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillbridge {

// Every UDP send of this process from the socket bound to one local port, with its time (CLOCK_MONOTONIC
// nanoseconds, taken just before the packets are handed to the kernel) and its size (all segments of a
// segmented send together). A program linking this file gets a sendmsg of its own, which replaces the C
// library's for the whole process and passes every call on after noting it.
class HostSendLog {
public:
    struct Send {
        std::uint64_t timeNanoseconds = 0;
        std::size_t byteCount = 0;
    };

    // Starts noting the sends of the socket bound to `localPort`, forgetting what was noted before.
    static void start(std::uint16_t localPort);
    static void stop();
    // What was noted, in send order.
    static std::vector<Send> sends();
};

}  // namespace quillbridge
