#pragma once

#include "input/FileContentTypeDetector.hpp"

namespace quillbridge {

// Types a copied file with Qt's MIME database (file name and contents), mapped to the clipboard's uniform
// types through the wire's type table. A MIME type the table does not hold is looked up through its
// aliases and then its ancestors ("text/x-csrc" is plain text); the generic "application/octet-stream"
// gives nothing, so the caller falls back to the extension. Safe on any thread.
class QtFileContentTypeDetector final : public FileContentTypeDetector {
public:
    std::optional<std::string> contentTypeIdentifier(const std::filesystem::path& path,
                                                     ByteView contents) const override;
};

}  // namespace quillbridge
