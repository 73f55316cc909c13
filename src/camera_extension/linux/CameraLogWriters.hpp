#pragma once

#include <cstdio>

#include "camera_extension/CameraExtensionLogger.hpp"

namespace quillbridge {

// Writes "[Quillbridge:PersonaCameraExtension] level: message" lines to a stdio stream.
CameraLogWriter makeStreamCameraLogWriter(std::FILE* stream = stderr);

// Writes to the systemd journal (priority, SYSLOG_IDENTIFIER quillbridge-camera-extension, subsystem and
// category fields); a line the journal refuses goes to stderr. Only when the journal is present.
bool isSystemJournalPresent();
CameraLogWriter makeJournalCameraLogWriter();

}  // namespace quillbridge
