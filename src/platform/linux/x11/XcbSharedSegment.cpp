#include "platform/linux/x11/XcbSharedSegment.hpp"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

namespace quillbridge {

std::optional<XcbSharedSegment> XcbSharedSegment::attach(XcbConnection& connection, std::size_t size) {
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0) {
        return std::nullopt;
    }
    void* data = shmat(id, nullptr, 0);
    if (data == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return std::nullopt;
    }
    const std::uint32_t segment = xcb_generate_id(connection.get());
    XcbReply<xcb_generic_error_t> attachError(
        xcb_request_check(connection.get(), xcb_shm_attach_checked(connection.get(), segment, id, 0)));
    shmctl(id, IPC_RMID, nullptr);
    if (attachError || connection.hasError()) {
        shmdt(data);
        return std::nullopt;
    }
    return XcbSharedSegment{static_cast<std::uint8_t*>(data), segment, id};
}

}  // namespace quillbridge
