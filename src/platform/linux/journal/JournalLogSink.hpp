#pragma once

#include "core/Logger.hpp"

namespace quillbridge {

// Sends log records to the systemd journal with the fields MESSAGE, PRIORITY, SYSLOG_IDENTIFIER=quillbridge,
// QUILLBRIDGE_SUBSYSTEM and QUILLBRIDGE_CATEGORY: the Linux destination behind the Logger's sink seam.
class JournalLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override;
};

// Whether a journal listens on this machine (its socket /run/systemd/journal/socket exists).
bool isSystemJournalPresent();

// Installs a JournalLogSink when a journal is present and says whether it did; otherwise logging stays on
// stderr. Programs call it once at start-up.
bool useSystemJournalWhenPresent();

}  // namespace quillbridge
