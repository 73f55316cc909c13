#pragma once

#include <cstddef>

namespace quillbridge {

// How the host's process gives memory back to the system (glibc's allocator).
//
// The media path allocates large buffers on one thread and frees them on another (captured frames on the
// capture thread, freed by the encoder's; the encoder's pictures on its own threads). With the allocator's
// defaults such a buffer, once freed, raises the threshold for mapping blocks of their own to its size, so
// every later one comes from a per-thread arena that keeps the memory after the session; and freed memory in
// the middle of an arena stays resident until trimmed.
class LinuxMemoryRelease {
public:
    // Blocks at least this large are mapped on their own and unmapped when freed, whatever thread frees them.
    static constexpr std::size_t mappedBlockThreshold = 256 * 1024;

    // Fixes the mapping threshold (which also stops its growth). Once per process, before the media path
    // starts; calling it again changes nothing.
    static void configureAllocator();
    // Returns the free memory of every arena to the system. Blocking (it walks the arenas under their
    // locks): run it on the blocking-work pool.
    static void returnFreedMemory();
};

}  // namespace quillbridge
