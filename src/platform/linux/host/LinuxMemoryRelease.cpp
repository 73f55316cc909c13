#include "platform/linux/host/LinuxMemoryRelease.hpp"

#include <malloc.h>

#include <mutex>

namespace quillbridge {

void LinuxMemoryRelease::configureAllocator() {
    static std::once_flag once;
    std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, static_cast<int>(mappedBlockThreshold)); });
}

void LinuxMemoryRelease::returnFreedMemory() {
    malloc_trim(0);
}

}  // namespace quillbridge
