#pragma once

#include <cstddef>

#include "core/Bytes.hpp"

namespace quillbridge {

// Bytes from the kernel's cryptographically secure generator. Never returns fewer bytes than asked for:
// if the kernel cannot deliver, the process aborts rather than use weak randomness.
Bytes secureRandomBytes(std::size_t count);
void fillSecureRandom(std::span<std::uint8_t> buffer);

}  // namespace quillbridge
