#include "platform/linux/update/UpdateArchiveVerifier.hpp"

#include <fstream>
#include <vector>

#include <sodium.h>

namespace quillbridge {

std::expected<void, UpdateArchiveFailure> UpdateArchiveVerifier::verify(const std::filesystem::path& file,
                                                                        std::uint64_t expectedLength,
                                                                        ByteView signature,
                                                                        ByteView publicKey) {
    if (sodium_init() < 0) {
        return std::unexpected(UpdateArchiveFailure::cryptoUnavailable);
    }
    if (signature.size() != crypto_sign_BYTES || publicKey.size() != crypto_sign_PUBLICKEYBYTES) {
        return std::unexpected(UpdateArchiveFailure::badSignature);
    }
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error) {
        return std::unexpected(UpdateArchiveFailure::unreadable);
    }
    if (size != expectedLength) {
        return std::unexpected(UpdateArchiveFailure::wrongLength);
    }
    std::ifstream stream(file, std::ios::binary);
    std::vector<unsigned char> contents(static_cast<std::size_t>(size));
    if (!stream ||
        !stream.read(reinterpret_cast<char*>(contents.data()), static_cast<std::streamsize>(size)) ||
        stream.peek() != std::ifstream::traits_type::eof()) {
        return std::unexpected(UpdateArchiveFailure::unreadable);
    }
    if (crypto_sign_verify_detached(signature.data(), contents.data(), contents.size(), publicKey.data()) !=
        0) {
        return std::unexpected(UpdateArchiveFailure::badSignature);
    }
    return {};
}

}  // namespace quillbridge
