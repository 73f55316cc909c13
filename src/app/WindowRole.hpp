#pragma once

namespace quillbridge {

// The ordinary windows of the host, each of which gives the application the regular activation policy while
// it is on screen.
enum class WindowRole { about, permissionOnboarding, pairingPrompt, softwareUpdate };

}  // namespace quillbridge
