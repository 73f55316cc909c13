#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "app/PermissionHelpPage.hpp"

namespace quillbridge {

// The help page as an installed HTML file, shown by the desktop's browser through xdg-open with a file://
// URL that names the section ("file:///usr/share/quillbridge/help/permissions.html#local-network"). The
// opener runs detached; its outcome is not awaited. Some xdg-open fallbacks drop the anchor and show the
// page from its top.
class XdgOpenPermissionHelpPage final : public PermissionHelpPage {
public:
    // Where the page is installed under a prefix: <prefix>/share/quillbridge/help/permissions.html.
    static std::filesystem::path installedPage(const std::filesystem::path& prefix);
    // The page's URL at the section, percent-encoded.
    static std::string sectionURL(const std::filesystem::path& page, std::string_view section);

    // `opener`: the program given the URL, looked up on PATH.
    explicit XdgOpenPermissionHelpPage(std::filesystem::path page, std::string opener = "xdg-open");

    // Refuses (and logs) an unknown section or a page that is not there.
    void openSection(std::string_view section) override;

private:
    std::filesystem::path page_;
    std::string opener_;
};

}  // namespace quillbridge
