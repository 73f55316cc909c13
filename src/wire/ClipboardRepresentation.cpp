#include "wire/ClipboardRepresentation.hpp"

#include <utf8proc.h>

#include "core/UnicodeText.hpp"
#include "wire/ClipboardLimits.hpp"

namespace quillbridge {

bool containsClipboardControlCharacter(std::string_view text) {
    auto bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    auto remaining = static_cast<utf8proc_ssize_t>(text.size());
    while (remaining > 0) {
        utf8proc_int32_t codePoint = 0;
        utf8proc_ssize_t length = utf8proc_iterate(bytes, remaining, &codePoint);
        if (length <= 0 || codePoint < 0)
            return false;
        auto category = utf8proc_category(codePoint);
        if (category == UTF8PROC_CATEGORY_CC || category == UTF8PROC_CATEGORY_CF)
            return true;
        bytes += length;
        remaining -= length;
    }
    return false;
}

bool isValidClipboardTypeIdentifier(std::string_view identifier) {
    return !identifier.empty() && identifier.size() <= ClipboardLimits::maximumTypeIdentifierByteCount &&
           isValidUtf8(identifier) && !containsClipboardControlCharacter(identifier);
}

std::optional<ClipboardRepresentation> ClipboardRepresentation::make(std::string typeIdentifier, Bytes data) {
    if (!isValidClipboardTypeIdentifier(typeIdentifier))
        return std::nullopt;
    if (data.empty() || data.size() > ClipboardLimits::maximumRepresentationDataByteCount)
        return std::nullopt;
    return ClipboardRepresentation(std::move(typeIdentifier), std::move(data));
}

bool operator==(const ClipboardRepresentation& left, const ClipboardRepresentation& right) {
    return left.data_ == right.data_ && canonicallyEquivalent(left.typeIdentifier_, right.typeIdentifier_);
}

}  // namespace quillbridge
