#pragma once

#include <optional>
#include <string>

#include "wire/ClipboardRepresentation.hpp"

namespace quillbridge {

// The result of reading one file that the clipboard references.
struct RemoteClipboardFileCaptureResult {
    enum class Kind { captured, tooLarge, unsupported, unavailable };

    Kind kind = Kind::unavailable;
    std::optional<ClipboardRepresentation> representation;  // set exactly when captured
    std::string filename;

    static RemoteClipboardFileCaptureResult captured(ClipboardRepresentation representation,
                                                     std::string filename) {
        return {Kind::captured, std::move(representation), std::move(filename)};
    }
    static RemoteClipboardFileCaptureResult refused(Kind kind) { return {kind, std::nullopt, {}}; }
};

}  // namespace quillbridge
