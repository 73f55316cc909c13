#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillbridge {

// The texts and links of the About details.
struct HostAboutDetails {
    struct Link {
        std::string label;
        std::string destination;
        bool operator==(const Link&) const = default;
    };

    // "1.2 (45)": the short version ("Unknown" when missing) and the build ("0" when missing).
    static std::string versionText(const std::optional<std::string>& shortVersion,
                                   const std::optional<std::string>& build);
    // The version of this program, as the build recorded it.
    static std::string currentVersionText();
    // "Support" and "Privacy Policy", each when the product's configuration has its page.
    static std::vector<Link> productLinks();
    // The libraries this program links, each with its licence; each links to the licence text that Debian
    // installs with the library.
    static std::vector<Link> acknowledgements();
};

}  // namespace quillbridge
