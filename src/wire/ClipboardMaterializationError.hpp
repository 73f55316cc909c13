#pragma once

#include <system_error>
#include <type_traits>

namespace quillbridge {

// Why writing a received clipboard's files failed for a reason of the clipboard itself rather than of the
// file system: a file item whose metadata names none of its representations.
enum class ClipboardMaterializationError {
    fileReadCorruptFile = 1,
};

const std::error_category& clipboardMaterializationCategory() noexcept;

inline std::error_code make_error_code(ClipboardMaterializationError error) noexcept {
    return {static_cast<int>(error), clipboardMaterializationCategory()};
}

}  // namespace quillbridge

template <>
struct std::is_error_code_enum<quillbridge::ClipboardMaterializationError> : std::true_type {};
