#pragma once

#include <chrono>
#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace quillbridge {

// The microphone program's command line:
//   --foreground             run attached, logging plain lines to standard error (tests, a terminal);
//                            without it the program runs as the user's service (it tells the service
//                            manager when it is ready and marks its log lines with journal priorities)
//   --lease-milliseconds N   publication lease of N ms (100...15000) instead of 15 s, for tests
//   --help
struct MicrophoneProgramOptions {
    static constexpr std::chrono::milliseconds shortestLease{100};
    static constexpr std::chrono::milliseconds defaultLease{15000};

    bool foreground = false;
    bool help = false;
    std::chrono::milliseconds leaseDuration = defaultLease;

    static std::string_view usage();
    // The options, or why the command line was refused.
    static std::expected<MicrophoneProgramOptions, std::string> parse(
        std::span<const std::string_view> arguments);
};

}  // namespace quillbridge
