#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quillbridge {

// The URL rules of the clipboard: web links carried as the URL type, and file URLs that stand for files.
class ClipboardURL {
public:
    // The text as a link the clipboard may carry: it parses as an absolute URL (a scheme, then ":",
    // and only printable ASCII without spaces) whose scheme is not "file". Nothing otherwise.
    static std::optional<std::string> linkString(std::string_view text);

    // Whether the text is an absolute URL with the "file" scheme (in any case).
    static bool isFileURL(std::string_view text);

    // The local path of a file URL ("file:///path" or "file://localhost/path", percent-escapes decoded).
    // Nothing for another scheme, another host, a relative or empty path, or an escape that decodes to
    // NUL or is malformed.
    static std::optional<std::filesystem::path> filePath(std::string_view url);

    // The file URL of an absolute path, every byte outside the unreserved set and "/" percent-escaped.
    static std::string fileURLString(const std::filesystem::path& path);

    // The scheme of an absolute URL (letters, digits, "+", "-", "." after a leading letter, then ":").
    static std::optional<std::string_view> scheme(std::string_view text);
};

}  // namespace quillbridge
