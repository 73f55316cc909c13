#pragma once

#include <cstddef>
#include <optional>

#include "core/Bytes.hpp"

namespace quillbridge {

// Reads an open file without trusting the size the file system reports for it: a file may grow while it
// is read, and special files report size 0. The read stops after limit + 1 bytes, so the caller can tell
// "at most the limit" from "more than the limit" without ever holding more.
class BoundedFileReader {
public:
    // Up to limit + 1 bytes from the descriptor's current position (fewer at the end of the file);
    // nothing when a read fails. Memory grows with what is read, never with what is announced.
    static std::optional<Bytes> readAtMost(int descriptor, std::size_t limit);
};

}  // namespace quillbridge
