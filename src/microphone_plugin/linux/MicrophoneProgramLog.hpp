#pragma once

#include <mutex>
#include <string_view>

namespace quillbridge {

// The microphone program's own log: one line per message on standard error, "[Quillbridge:
// QuillbridgeMicrophone] level: message". As a service its lines start with the journal's priority
// prefix, which the journal reads and strips. Thread-safe; never called on the real-time thread.
class MicrophoneProgramLog {
public:
    enum class Level { error, notice, info };

    explicit MicrophoneProgramLog(bool journalPriorities) : journalPriorities_(journalPriorities) {}

    void write(Level level, std::string_view message);
    void error(std::string_view message) { write(Level::error, message); }
    void notice(std::string_view message) { write(Level::notice, message); }
    void info(std::string_view message) { write(Level::info, message); }

private:
    bool journalPriorities_;
    std::mutex mutex_;
};

}  // namespace quillbridge
