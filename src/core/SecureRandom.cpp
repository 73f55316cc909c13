#include "core/SecureRandom.hpp"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace quillbridge {

void fillSecureRandom(std::span<std::uint8_t> buffer) {
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        ssize_t count = getrandom(buffer.data() + filled, buffer.size() - filled, 0);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            std::fputs("secure random source failed\n", stderr);
            std::abort();
        }
        filled += static_cast<std::size_t>(count);
    }
}

Bytes secureRandomBytes(std::size_t count) {
    Bytes bytes(count);
    fillSecureRandom(bytes);
    return bytes;
}

}  // namespace quillbridge
