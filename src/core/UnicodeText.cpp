#include "core/UnicodeText.hpp"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

namespace quillbridge {

bool isValidUtf8(std::string_view text) {
    auto bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t remaining = static_cast<utf8proc_ssize_t>(text.size());
    while (remaining > 0) {
        if (*bytes < 0x80) {  // ASCII needs no decoding
            ++bytes;
            --remaining;
            continue;
        }
        utf8proc_int32_t codePoint = 0;
        utf8proc_ssize_t length = utf8proc_iterate(bytes, remaining, &codePoint);
        if (length <= 0 || codePoint < 0)
            return false;
        bytes += length;
        remaining -= length;
    }
    return true;
}

std::string canonicalDecomposition(std::string_view text) {
    utf8proc_uint8_t* decomposed = nullptr;
    utf8proc_ssize_t length = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t*>(text.data()), static_cast<utf8proc_ssize_t>(text.size()),
        &decomposed, static_cast<utf8proc_option_t>(UTF8PROC_DECOMPOSE | UTF8PROC_STABLE));
    if (length < 0)
        return std::string(text);
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(decomposed, &std::free);
    return std::string(reinterpret_cast<const char*>(decomposed), static_cast<std::size_t>(length));
}

bool canonicallyEquivalent(std::string_view left, std::string_view right) {
    if (left == right)
        return true;
    return canonicalDecomposition(left) == canonicalDecomposition(right);
}

}  // namespace quillbridge
