#include "platform/linux/journal/JournalLogSink.hpp"

#include <sys/stat.h>
#include <syslog.h>

// The records carry no CODE_FILE/CODE_LINE: they would always name this file.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

namespace quillbridge {

namespace {

constexpr const char* journalSocketPath = "/run/systemd/journal/socket";

int journalPriority(LogLevel level) {
    switch (level) {
        case LogLevel::debug:
            return LOG_DEBUG;
        case LogLevel::info:
            return LOG_INFO;
        case LogLevel::notice:
            return LOG_NOTICE;
        case LogLevel::error:
            return LOG_ERR;
        case LogLevel::fault:
            return LOG_CRIT;
    }
    return LOG_INFO;
}

}  // namespace

void JournalLogSink::write(const LogRecord& record) {
    int result =
        sd_journal_send("MESSAGE=%s", record.message.c_str(), "PRIORITY=%i", journalPriority(record.level),
                        "SYSLOG_IDENTIFIER=quillbridge", "QUILLBRIDGE_SUBSYSTEM=%s", record.subsystem.c_str(),
                        "QUILLBRIDGE_CATEGORY=%s", record.category.c_str(), nullptr);
    if (result < 0) {
        // The journal went away: the record still reaches stderr rather than being lost.
        static auto* fallback = new StderrLogSink;
        fallback->write(record);
    }
}

bool isSystemJournalPresent() {
    struct stat status {};
    return ::stat(journalSocketPath, &status) == 0 && S_ISSOCK(status.st_mode);
}

bool useSystemJournalWhenPresent() {
    if (!isSystemJournalPresent())
        return false;
    installLogSink(std::make_shared<JournalLogSink>());
    return true;
}

}  // namespace quillbridge
