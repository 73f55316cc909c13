#pragma once

namespace quillbridge {

// Faults injected into UDP sends. A test program that uses this class gets a sendmsg of its own, which
// replaces the C library's for the whole process (the QUIC endpoints included) and passes every call on
// unless a fault is set. Faults are process-wide: set them in one test at a time and clear them with
// reset() (or a Scope) before it ends.
class UdpSendFaults {
public:
    // Segmented sends (UDP_SEGMENT) fail with EIO, as on a network device without checksum offload.
    static void refuseSegmentedSends(bool refuse);
    static int refusedSegmentedSends();

    // Sends on the socket (on every socket for anySocket) fail with EAGAIN, as on a full send buffer: the
    // next `count` of them, or all of them while `count` is negative.
    static constexpr int anySocket = -2;
    static void blockSends(int socket, int count);
    static void unblockSends();
    static int blockedSends();

    // Clears every fault and counter.
    static void reset();

    // Clears the faults when it goes out of scope.
    struct Scope {
        Scope() { reset(); }
        ~Scope() { reset(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
    };
};

}  // namespace quillbridge
