#include "camera_extension/linux/CameraLogWriters.hpp"

#include <sys/stat.h>
#include <syslog.h>

#include <memory>
#include <mutex>
#include <string>

#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

namespace quillbridge {

namespace {

const char* levelName(CameraLogLevel level) {
    return level == CameraLogLevel::error ? "error" : "info";
}

}  // namespace

CameraLogWriter makeStreamCameraLogWriter(std::FILE* stream) {
    auto mutex = std::make_shared<std::mutex>();
    return [stream, mutex](CameraLogLevel level, std::string_view message) {
        std::lock_guard lock(*mutex);
        std::fprintf(stream, "[%s:%s] %s: %.*s\n", CameraExtensionLogger::subsystem.data(),
                     CameraExtensionLogger::category.data(), levelName(level), int(message.size()),
                     message.data());
        std::fflush(stream);
    };
}

bool isSystemJournalPresent() {
    struct stat status {};
    return ::stat("/run/systemd/journal/socket", &status) == 0 && S_ISSOCK(status.st_mode);
}

CameraLogWriter makeJournalCameraLogWriter() {
    CameraLogWriter fallback = makeStreamCameraLogWriter(stderr);
    return [fallback](CameraLogLevel level, std::string_view message) {
        const std::string line(message);
        int result = sd_journal_send(
            "MESSAGE=%s", line.c_str(), "PRIORITY=%i", level == CameraLogLevel::error ? LOG_ERR : LOG_INFO,
            "SYSLOG_IDENTIFIER=quillbridge-camera-extension", "QUILLBRIDGE_SUBSYSTEM=%s",
            CameraExtensionLogger::subsystem.data(), "QUILLBRIDGE_CATEGORY=%s",
            CameraExtensionLogger::category.data(), nullptr);
        if (result < 0)
            fallback(level, message);
    };
}

}  // namespace quillbridge
