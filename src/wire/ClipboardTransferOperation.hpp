#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "core/Json.hpp"

namespace quillbridge {

// The direction of a clipboard transfer. Its raw value is the JSON number of the control messages and
// the operation byte of the clipboard payload stream header.
enum class ClipboardTransferOperation : std::uint8_t {
    copyFromMac = 1,  // the headset asks for this desktop's clipboard
    pasteToMac = 2,   // the headset sends its clipboard to this desktop
};

template <>
struct JsonEnumCases<ClipboardTransferOperation> {
    static constexpr std::array cases{
        std::pair{ClipboardTransferOperation::copyFromMac, std::uint8_t{1}},
        std::pair{ClipboardTransferOperation::pasteToMac, std::uint8_t{2}},
    };
};

constexpr std::uint8_t rawValue(ClipboardTransferOperation operation) {
    return static_cast<std::uint8_t>(operation);
}

// The operation of a raw value; nothing for any byte but 1 and 2.
constexpr std::optional<ClipboardTransferOperation> clipboardTransferOperationFromRawValue(std::uint8_t raw) {
    for (const auto& [operation, value] : JsonEnumCases<ClipboardTransferOperation>::cases) {
        if (value == raw)
            return operation;
    }
    return std::nullopt;
}

// The case name, as logs show it ("copyFromMac", "pasteToMac").
constexpr std::string_view caseName(ClipboardTransferOperation operation) {
    return operation == ClipboardTransferOperation::copyFromMac ? "copyFromMac" : "pasteToMac";
}

}  // namespace quillbridge
