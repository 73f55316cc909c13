#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "core/Bytes.hpp"
#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// How a clipboard transfer ended. In JSON it is the raw string; on the clipboard payload stream it is
// the one result byte that the receiving side sends (see streamByte, whose numbering differs from the
// case order). "cancelled" has two l.
enum class ClipboardTransferResultCode {
    succeeded,
    cancelled,
    unavailable,
    tooLarge,
    unsupported,
    failed,
};

template <>
struct JsonEnumCases<ClipboardTransferResultCode> {
    static constexpr std::array cases{
        std::pair{ClipboardTransferResultCode::succeeded, std::string_view{"succeeded"}},
        std::pair{ClipboardTransferResultCode::cancelled, std::string_view{"cancelled"}},
        std::pair{ClipboardTransferResultCode::unavailable, std::string_view{"unavailable"}},
        std::pair{ClipboardTransferResultCode::tooLarge, std::string_view{"tooLarge"}},
        std::pair{ClipboardTransferResultCode::unsupported, std::string_view{"unsupported"}},
        std::pair{ClipboardTransferResultCode::failed, std::string_view{"failed"}},
    };
};

static_assert(isWellFormedRawValueTable<ClipboardTransferResultCode>());

// The result byte of each code on the clipboard payload stream.
inline constexpr std::array<std::pair<ClipboardTransferResultCode, std::uint8_t>, 6>
    clipboardTransferResultStreamBytes{{
        {ClipboardTransferResultCode::succeeded, 1},
        {ClipboardTransferResultCode::unavailable, 2},
        {ClipboardTransferResultCode::tooLarge, 3},
        {ClipboardTransferResultCode::failed, 4},
        {ClipboardTransferResultCode::cancelled, 5},
        {ClipboardTransferResultCode::unsupported, 6},
    }};

constexpr std::uint8_t streamByte(ClipboardTransferResultCode code) {
    for (const auto& [item, byte] : clipboardTransferResultStreamBytes) {
        if (item == code)
            return byte;
    }
    return 0;
}

// The code of a result byte; nothing for 0 and for 7 to 255.
constexpr std::optional<ClipboardTransferResultCode> clipboardTransferResultCodeFromStreamByte(
    std::uint8_t byte) {
    for (const auto& [code, value] : clipboardTransferResultStreamBytes) {
        if (value == byte)
            return code;
    }
    return std::nullopt;
}

// The code of received result data: exactly one byte that maps to a code, else nothing.
constexpr std::optional<ClipboardTransferResultCode> clipboardTransferResultCodeFromStreamData(
    ByteView data) {
    if (data.size() != 1)
        return std::nullopt;
    return clipboardTransferResultCodeFromStreamByte(data[0]);
}

}  // namespace quillbridge
