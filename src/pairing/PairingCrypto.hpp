#pragma once

#include <cstddef>

#include "core/Bytes.hpp"

namespace quillbridge {

// Small cryptographic helpers shared by pairing, reconnect and the TLS identity.

// `count` bytes from the system's secure random generator (empty for 0). A generator failure stops the
// process: weak randomness is never returned.
Bytes randomData(std::size_t count);

// Whether the two byte strings are equal, comparing equal-length strings in constant time. Different
// lengths give false at once; two empty strings are equal.
bool constantTimeEqual(ByteView left, ByteView right);

// SHA-256 of the bytes (32 bytes).
Bytes sha256(ByteView bytes);

}  // namespace quillbridge
