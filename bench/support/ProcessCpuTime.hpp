#pragma once

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

namespace quillbridge {

// CPU time (user and system) another process has used so far, from /proc/<pid>/stat; nothing when it cannot
// be read.
inline std::optional<std::uint64_t> processCpuNanoseconds(const std::string& pid) {
    std::ifstream file("/proc/" + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The command name, in parentheses, may hold blanks: the fields are counted after its end.
    const auto end = text.rfind(')');
    if (end == std::string::npos || end + 2 > text.size()) {
        return std::nullopt;
    }
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    std::optional<std::uint64_t> user;
    std::optional<std::uint64_t> system;
    // Fields 3 to 15 of stat; utime and stime are 14 and 15, in clock ticks.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        try {
            if (index == 14) {
                user = std::stoull(field);
            } else if (index == 15) {
                system = std::stoull(field);
            }
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    const long ticks = sysconf(_SC_CLK_TCK);
    if (!user || !system || ticks <= 0) {
        return std::nullopt;
    }
    return (*user + *system) * (1'000'000'000u / static_cast<std::uint64_t>(ticks));
}

}  // namespace quillbridge
