#pragma once

#include <filesystem>
#include <string>

#include "app/LoginItemService.hpp"

namespace quillbridge {

// The login item as an XDG autostart entry: registering writes "quillbridge-host.desktop" into the autostart
// folder (atomically: a temporary file in the same folder, synced, then renamed over the entry),
// unregistering removes it, and the status is read back from the file each time. An entry the desktop's
// session settings switched off (Hidden=true or X-GNOME-Autostart-enabled=false) counts as not registered.
class XdgAutostartLoginItem final : public LoginItemService {
public:
    static constexpr const char* entryFileName = "quillbridge-host.desktop";

    XdgAutostartLoginItem(std::filesystem::path autostartFolder, std::filesystem::path programPath);

    // $XDG_CONFIG_HOME/autostart, or ~/.config/autostart when XDG_CONFIG_HOME is unset or not absolute.
    static std::filesystem::path defaultAutostartFolder();
    // The entry's text for the program.
    static std::string entryText(const std::filesystem::path& programPath);

    std::filesystem::path entryPath() const { return autostartFolder_ / entryFileName; }

    Status status() const override;
    std::expected<void, std::string> registerItem() override;
    std::expected<void, std::string> unregisterItem() override;

private:
    std::filesystem::path autostartFolder_;
    std::filesystem::path programPath_;
};

}  // namespace quillbridge
