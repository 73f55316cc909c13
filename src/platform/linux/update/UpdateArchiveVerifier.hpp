#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>

#include "core/Bytes.hpp"

namespace quillbridge {

enum class UpdateArchiveFailure { unreadable, wrongLength, badSignature, cryptoUnavailable };

// Checks a downloaded package before anything else touches it: it must be exactly the length the feed gave
// and carry a valid Ed25519 signature (of the whole file) by the release key.
struct UpdateArchiveVerifier {
    static std::expected<void, UpdateArchiveFailure> verify(const std::filesystem::path& file,
                                                            std::uint64_t expectedLength, ByteView signature,
                                                            ByteView publicKey);
};

}  // namespace quillbridge
