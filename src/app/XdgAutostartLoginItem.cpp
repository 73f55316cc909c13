#include "app/XdgAutostartLoginItem.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <utility>

namespace quillbridge {
namespace {

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

// The program as one argument of an Exec line: quoted, with the characters the quoting reserves escaped, then
// escaped again as a desktop-entry string; field codes are doubled.
std::string execArgument(const std::string& path) {
    std::string quoted = "\"";
    for (const char character : path) {
        if (character == '"' || character == '`' || character == '$' || character == '\\') {
            quoted += '\\';
        }
        quoted += character;
    }
    quoted += '"';
    std::string escaped;
    for (const char character : quoted) {
        if (character == '\\') {
            escaped += "\\\\";
        } else if (character == '%') {
            escaped += "%%";
        } else {
            escaped += character;
        }
    }
    return escaped;
}

std::string describe(int error) {
    return std::error_code(error, std::generic_category()).message();
}

}  // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(std::filesystem::path autostartFolder,
                                             std::filesystem::path programPath)
    : autostartFolder_(std::move(autostartFolder)), programPath_(std::move(programPath)) {}

std::filesystem::path XdgAutostartLoginItem::defaultAutostartFolder() {
    if (const char* configHome = std::getenv("XDG_CONFIG_HOME");
        configHome != nullptr && std::filesystem::path(configHome).is_absolute()) {
        return std::filesystem::path(configHome) / "autostart";
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "/") / ".config" / "autostart";
}

std::string XdgAutostartLoginItem::entryText(const std::filesystem::path& programPath) {
    std::ostringstream text;
    text << "[Desktop Entry]\n"
         << "Type=Application\n"
         << "Name=Quillbridge Host\n"
         << "Exec=" << execArgument(programPath.string()) << "\n"
         << "Icon=quillbridge-host\n"
         << "Terminal=false\n"
         << "X-GNOME-Autostart-enabled=true\n";
    return text.str();
}

LoginItemService::Status XdgAutostartLoginItem::status() const {
    std::error_code error;
    if (!std::filesystem::is_regular_file(entryPath(), error)) {
        return Status::notRegistered;
    }
    std::ifstream entry(entryPath());
    if (!entry) {
        return Status::notRegistered;
    }
    bool inMainGroup = false;
    std::string line;
    while (std::getline(entry, line)) {
        const std::string text = trimmed(line);
        if (text.starts_with('[')) {
            inMainGroup = text == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const auto equals = text.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = trimmed(std::string_view(text).substr(0, equals));
        const std::string value = trimmed(std::string_view(text).substr(equals + 1));
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return Status::notRegistered;
        }
    }
    return Status::enabled;
}

std::expected<void, std::string> XdgAutostartLoginItem::registerItem() {
    const std::string path = programPath_.string();
    if (path.empty() || path.find_first_of("\n\r") != std::string::npos) {
        return std::unexpected("The program's location cannot be written into a startup entry.");
    }
    std::error_code error;
    std::filesystem::create_directories(autostartFolder_, error);
    if (error) {
        return std::unexpected(error.message());
    }
    std::string temporary = (autostartFolder_ / ".quillbridge-host.desktop.XXXXXX").string();
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0) {
        return std::unexpected(describe(errno));
    }
    const std::string text = entryText(programPath_);
    std::size_t written = 0;
    int failure = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(descriptor, text.data() + written, text.size() - written);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            failure = errno;
            break;
        }
        written += static_cast<std::size_t>(count);
    }
    if (failure == 0 && ::fchmod(descriptor, 0644) != 0) {
        failure = errno;
    }
    if (failure == 0 && ::fsync(descriptor) != 0) {
        failure = errno;
    }
    if (::close(descriptor) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && ::rename(temporary.c_str(), entryPath().c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlink(temporary.c_str());
        return std::unexpected(describe(failure));
    }
    return {};
}

std::expected<void, std::string> XdgAutostartLoginItem::unregisterItem() {
    if (::unlink(entryPath().c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) {
        return std::unexpected(describe(errno));
    }
    return {};
}

}  // namespace quillbridge
