#include "microphone_plugin/linux/MicrophoneProgramLog.hpp"

#include <cstdio>
#include <string>

namespace quillbridge {

void MicrophoneProgramLog::write(Level level, std::string_view message) {
    // Syslog priorities: 3 error, 5 notice, 6 informational.
    const char* priority = level == Level::error ? "<3>" : level == Level::notice ? "<5>" : "<6>";
    const char* name = level == Level::error ? "error" : level == Level::notice ? "notice" : "info";
    std::string line = std::string(journalPriorities_ ? priority : "") +
                       "[Quillbridge:QuillbridgeMicrophone] " + name + ": " + std::string(message) + "\n";
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace quillbridge
