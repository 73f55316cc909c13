#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillbridge {

// Where the host's user-visible name comes from on Linux, best first: systemd-hostnamed's PrettyHostname
// (system bus), the PRETTY_HOSTNAME of /etc/machine-info, the host name. The result is not trimmed (the
// session trims it and falls back to its own default when nothing is left).
class HostDisplayNameReader {
public:
    // The first non-empty source; empty when none gives a name.
    static std::string read(const std::string& machineInfoPath = "/etc/machine-info");

    // PRETTY_HOSTNAME from the text of a machine-info file (shell-style KEY=VALUE lines, values optionally
    // quoted with single or double quotes, backslash escapes inside double quotes); nothing when absent.
    static std::optional<std::string> prettyHostnameFromMachineInfo(std::string_view text);

private:
    static std::optional<std::string> prettyHostnameFromHostnamed();
};

}  // namespace quillbridge
