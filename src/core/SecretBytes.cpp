#include "core/SecretBytes.hpp"

#include <sodium.h>

namespace quillbridge {

void wipeMemory(void* data, std::size_t size) {
    if (data && size > 0)
        sodium_memzero(data, size);
}

void wipeString(std::string& text) {
    // The characters beyond size() may hold an earlier, longer value.
    wipeMemory(text.data(), text.capacity());
    text.clear();
}

void wipeBytes(Bytes& bytes) {
    wipeMemory(bytes.data(), bytes.capacity());
    bytes.clear();
}

SecretBytes SecretBytes::consuming(Bytes&& bytes) {
    SecretBytes secret{ByteView(bytes)};
    wipeBytes(bytes);
    return secret;
}

SecretBytes SecretBytes::consuming(std::string&& text) {
    SecretBytes secret{asBytes(text)};
    wipeString(text);
    return secret;
}

void SecretBytes::clear() {
    wipeMemory(bytes_.data(), bytes_.size());
    bytes_.clear();
}

bool SecretBytes::operator==(const SecretBytes& other) const {
    return *this == other.view();
}

bool SecretBytes::operator==(ByteView other) const {
    if (size() != other.size())
        return false;
    return empty() || sodium_memcmp(data(), other.data(), size()) == 0;
}

}  // namespace quillbridge
