#include "wire/ClipboardMaterializationError.hpp"

#include <string>

namespace quillbridge {
namespace {

class ClipboardMaterializationCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "ClipboardMaterialization"; }
    std::string message(int code) const override {
        switch (static_cast<ClipboardMaterializationError>(code)) {
            case ClipboardMaterializationError::fileReadCorruptFile:
                return "The file couldn't be opened because it isn't in the correct format.";
        }
        return "Unknown clipboard materialisation error.";
    }
};

}  // namespace

const std::error_category& clipboardMaterializationCategory() noexcept {
    static const ClipboardMaterializationCategory category;
    return category;
}

}  // namespace quillbridge
