#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/linux/x11/XcbConnection.hpp"

namespace quillbridge {

// A System V shared memory segment mapped here and attached to the X server (MIT-SHM), into which the server
// writes images. The segment is already marked for removal: it goes away once both sides have detached, even
// if this process dies. The caller detaches `data` with shmdt and the server's side with xcb_shm_detach.
struct XcbSharedSegment {
    std::uint8_t* data = nullptr;
    std::uint32_t segment = 0;
    int id = -1;

    // A new segment of `size` bytes, or nothing when it cannot be made or the server refuses it.
    static std::optional<XcbSharedSegment> attach(XcbConnection& connection, std::size_t size);
};

}  // namespace quillbridge
