#include "platform/linux/dbus/HostDisplayNameReader.hpp"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/linux/dbus/SdBus.hpp"

namespace quillbridge {

namespace {

constexpr std::size_t maximumMachineInfoSize = 64 * 1024;

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view whitespace = " \t\r";
    const auto first = text.find_first_not_of(whitespace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(whitespace) - first + 1);
}

std::string unquoted(std::string_view value) {
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
        return std::string(value.substr(1, value.size() - 2));
    }
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        std::string result;
        const auto inner = value.substr(1, value.size() - 2);
        for (std::size_t index = 0; index < inner.size(); ++index) {
            if (inner[index] == '\\' && index + 1 < inner.size()) {
                ++index;
            }
            result.push_back(inner[index]);
        }
        return result;
    }
    return std::string(value);
}

}  // namespace

std::optional<std::string> HostDisplayNameReader::prettyHostnameFromMachineInfo(std::string_view text) {
    std::optional<std::string> found;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        constexpr std::string_view key = "PRETTY_HOSTNAME=";
        if (line.starts_with(key)) {
            // The last assignment wins, as in a shell.
            found = unquoted(trimmed(line.substr(key.size())));
        }
    }
    return found;
}

std::optional<std::string> HostDisplayNameReader::prettyHostnameFromHostnamed() {
    SdBusPointer bus = openSdBus(SdBusKind::system);
    if (!bus) {
        return std::nullopt;
    }
    SdBusError error;
    char* value = nullptr;
    if (sd_bus_get_property_string(bus.get(), "org.freedesktop.hostname1", "/org/freedesktop/hostname1",
                                   "org.freedesktop.hostname1", "PrettyHostname", error.get(), &value) < 0) {
        return std::nullopt;
    }
    std::string name(value != nullptr ? value : "");
    std::free(value);
    return name;
}

std::string HostDisplayNameReader::read(const std::string& machineInfoPath) {
    if (auto name = prettyHostnameFromHostnamed(); name && !trimmed(*name).empty()) {
        return *name;
    }
    std::ifstream file(machineInfoPath, std::ios::binary);
    if (file) {
        std::string text(maximumMachineInfoSize, '\0');
        file.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(file.gcount()));
        if (auto name = prettyHostnameFromMachineInfo(text); name && !trimmed(*name).empty()) {
            return *name;
        }
    }
    char hostName[HOST_NAME_MAX + 1] = {};
    if (::gethostname(hostName, sizeof hostName - 1) == 0) {
        return hostName;
    }
    return {};
}

}  // namespace quillbridge
