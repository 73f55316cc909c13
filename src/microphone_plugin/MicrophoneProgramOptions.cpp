#include "microphone_plugin/MicrophoneProgramOptions.hpp"

#include <charconv>

namespace quillbridge {

std::string_view MicrophoneProgramOptions::usage() {
    return "usage: quillbridge-microphone [--foreground] [--lease-milliseconds N]\n"
           "  --foreground             run attached to the terminal, logging to standard error\n"
           "  --lease-milliseconds N   publication lease of N milliseconds (100 to 15000), for tests\n";
}

std::expected<MicrophoneProgramOptions, std::string> MicrophoneProgramOptions::parse(
    std::span<const std::string_view> arguments) {
    MicrophoneProgramOptions options;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        std::string_view argument = arguments[index];
        if (argument == "--foreground") {
            options.foreground = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--lease-milliseconds") {
            if (index + 1 == arguments.size()) {
                return std::unexpected("--lease-milliseconds needs a number of milliseconds");
            }
            std::string_view text = arguments[++index];
            long long milliseconds = 0;
            auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), milliseconds);
            if (error != std::errc{} || end != text.data() + text.size() ||
                milliseconds < shortestLease.count() || milliseconds > defaultLease.count()) {
                return std::unexpected("--lease-milliseconds takes a whole number from 100 to 15000, not \"" +
                                       std::string(text) + "\"");
            }
            options.leaseDuration = std::chrono::milliseconds(milliseconds);
        } else {
            return std::unexpected("unknown option \"" + std::string(argument) + "\"");
        }
    }
    return options;
}

}  // namespace quillbridge
