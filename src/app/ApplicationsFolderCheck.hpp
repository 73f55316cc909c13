#pragma once

#include <filesystem>
#include <string_view>

namespace quillbridge {

// Where the host may run from: the install prefix the build was configured with stands for the
// Applications folder, so a program outside it (a build tree, a copy in the downloads) is refused.
struct ApplicationsFolderCheck {
    static constexpr std::string_view messageText = "Move Quillbridge Host to Applications";
    static constexpr std::string_view informativeText =
        "To use Quillbridge Host, move it to the Applications folder, then open it from there.";
    static constexpr std::string_view openFolderButton = "Open Applications Folder";
    static constexpr std::string_view quitButton = "Quit";

    // A path with its symbolic links resolved and its dot and dot-dot components removed; the part that does
    // not exist (yet) is kept as written, normalised.
    static std::filesystem::path resolved(const std::filesystem::path& path);

    // Whether the program lies inside the folder: the resolved program path begins with the resolved folder
    // path followed by "/". A subfolder passes; a sibling whose name merely begins like the folder's does
    // not.
    static bool isInside(const std::filesystem::path& program, const std::filesystem::path& folder);
};

}  // namespace quillbridge
