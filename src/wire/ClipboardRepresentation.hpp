#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.hpp"

namespace quillbridge {

// Whether text is usable as a clipboard type identifier: 1 to 512 bytes of valid UTF-8 holding no
// control character (Unicode general categories Cc and Cf).
bool isValidClipboardTypeIdentifier(std::string_view identifier);

// Whether valid UTF-8 text holds a character of general category Cc or Cf (false for invalid UTF-8).
bool containsClipboardControlCharacter(std::string_view text);

// One form of a clipboard item: its bytes in one type. Built only through make(), so every instance
// has a valid type identifier and 1 byte to 64 MiB of data.
class ClipboardRepresentation {
public:
    static std::optional<ClipboardRepresentation> make(std::string typeIdentifier, Bytes data);

    const std::string& typeIdentifier() const { return typeIdentifier_; }
    const Bytes& data() const { return data_; }

    // Identifiers compare by canonical equivalence, data byte by byte.
    friend bool operator==(const ClipboardRepresentation& left, const ClipboardRepresentation& right);

private:
    ClipboardRepresentation(std::string typeIdentifier, Bytes data)
        : typeIdentifier_(std::move(typeIdentifier)), data_(std::move(data)) {}

    std::string typeIdentifier_;
    Bytes data_;
};

}  // namespace quillbridge
