#include "pairing/PairingCrypto.hpp"

#include <nettle/sha2.h>
#include <sodium.h>

#include "core/SecureRandom.hpp"

namespace quillbridge {

Bytes randomData(std::size_t count) {
    return secureRandomBytes(count);
}

bool constantTimeEqual(ByteView left, ByteView right) {
    if (left.size() != right.size())
        return false;
    if (left.empty())
        return true;
    return sodium_memcmp(left.data(), right.data(), left.size()) == 0;
}

Bytes sha256(ByteView bytes) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, bytes.size(), bytes.data());
    Bytes digest(SHA256_DIGEST_SIZE);
    sha256_digest(&context, digest.size(), digest.data());
    return digest;
}

}  // namespace quillbridge
