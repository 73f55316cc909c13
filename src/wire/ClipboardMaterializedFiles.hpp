#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <span>

#include "wire/ClipboardItem.hpp"

namespace quillbridge {

// The files written for the file items of a received clipboard, so that the desktop clipboard can offer
// them as files. Layout, under the temporary directory:
//
//     QuillbridgeClipboard-<new UUID>/       one per materialisation, mode 0700
//         item-<index>/                      one per item with file metadata, mode 0700
//             <localFilename>                the bytes of the item's content representation, mode 0600
//                                            (the suggested name, shortened to 255 bytes when longer)
//
// The directory is owner-only because the temporary directory (/tmp) is shared between users. A file
// name has passed ClipboardFileMetadata's rules (no "/", not "." or ".."), so it never lands outside its
// item directory, and two items with the same name never collide.
struct ClipboardMaterializedFiles {
    // The clipboard directory and, per item index (0-based, items without metadata leave gaps), the file
    // written for it; both absolute paths.
    std::filesystem::path directoryURL;
    std::map<std::size_t, std::filesystem::path> fileURLsByItemIndex;

    // Writes the files under the user's temporary directory ($TMPDIR, else /tmp). Nothing when no item has
    // file metadata (nothing is created then). Throws std::system_error: the file system's error as it
    // is, or ClipboardMaterializationError::fileReadCorruptFile for an item whose metadata names none of
    // its representations; the clipboard directory is removed first, as far as that succeeds.
    static std::optional<ClipboardMaterializedFiles> materialize(std::span<const ClipboardItem> items);
    // The same under another temporary directory, which must exist.
    static std::optional<ClipboardMaterializedFiles> materialize(
        std::span<const ClipboardItem> items, const std::filesystem::path& temporaryDirectory);

    // Removes the clipboard directory with everything in it. Failures (a directory already gone) are
    // swallowed.
    void removeDirectory() const noexcept;

    bool operator==(const ClipboardMaterializedFiles&) const = default;
};

}  // namespace quillbridge
