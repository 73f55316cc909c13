#pragma once

#include <string>
#include <string_view>

namespace quillbridge {

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool isValidUtf8(std::string_view text);

// The canonical decomposition (NFD) of UTF-8 text; text that is not valid UTF-8 comes back unchanged.
std::string canonicalDecomposition(std::string_view text);

// Text equality as people read it: two strings are equal when they are canonically equivalent, so
// "é" written precomposed equals "e" followed by a combining acute accent.
bool canonicallyEquivalent(std::string_view left, std::string_view right);

}  // namespace quillbridge
