#pragma once

#include <functional>
#include <string_view>

#include "app/MandatoryPermissionSequence.hpp"
#include "capture/MandatoryPermissionIssue.hpp"

namespace quillbridge {

// The help page installed with the program, which takes the place of the platform's settings panes: one
// section per mandatory permission and one for the virtual camera, each reached by its anchor. Opening it
// does not wait for the browser.
class PermissionHelpPage {
public:
    // The anchors of the page's sections.
    static constexpr std::string_view screenCaptureSection = "screen-recording";
    static constexpr std::string_view accessibilitySection = "accessibility";
    static constexpr std::string_view localNetworkSection = "local-network";
    static constexpr std::string_view cameraExtensionSection = "camera-extension";

    static std::string_view section(MandatoryPermissionSequence::Permission permission);
    static std::string_view section(MandatoryPermissionIssue issue);
    // Whether the text is one of the page's anchors.
    static bool isSection(std::string_view section);

    virtual ~PermissionHelpPage() = default;

    // Shows the page at the section; an unknown section is refused (logged, nothing opens).
    virtual void openSection(std::string_view section) = 0;
};

// How the windows open a section of the help page.
using OpenPermissionHelpSection = std::function<void(std::string_view section)>;

}  // namespace quillbridge
