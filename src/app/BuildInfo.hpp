#pragma once

#include <optional>
#include <string>

namespace quillbridge {

// What the build recorded about this program (the counterpart of a bundle's information dictionary). Each
// value is nothing when the build did not set it.
struct BuildInfo {
    // The project's version ("0.1.0").
    static std::optional<std::string> shortVersion();
    // The build number.
    static std::optional<std::string> buildNumber();
    // The install prefix the build was configured with.
    static std::string installPrefix();
    // The product's support and privacy-policy pages.
    static std::optional<std::string> supportURL();
    static std::optional<std::string> privacyPolicyURL();
    // The release configuration of the updater: the update feed's address ("SUFeedURL") and the Base64
    // Ed25519 public key that signs the packages ("SUPublicEDKey").
    static std::optional<std::string> updateFeedURL();
    static std::optional<std::string> updatePublicEDKey();
};

}  // namespace quillbridge
