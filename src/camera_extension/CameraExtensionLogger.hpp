#pragma once

#include <functional>
#include <string_view>

namespace quillbridge {

// The camera extension's log levels: the default level and errors.
enum class CameraLogLevel { info, error };

// Where the camera extension's log lines go (the journal or stderr in the program, a recorder in tests).
// Called on whatever thread logs.
using CameraLogWriter = std::function<void(CameraLogLevel level, std::string_view message)>;

// The camera extension's one logger: subsystem "Quillbridge", category "PersonaCameraExtension". The program
// cannot use the host's logging, so it keeps this small one. A logger without a writer drops every line.
class CameraExtensionLogger {
public:
    static constexpr std::string_view subsystem = "Quillbridge";
    static constexpr std::string_view category = "PersonaCameraExtension";

    explicit CameraExtensionLogger(CameraLogWriter writer = {}) : writer_(std::move(writer)) {}

    void info(std::string_view message) const { write(CameraLogLevel::info, message); }
    void error(std::string_view message) const { write(CameraLogLevel::error, message); }

private:
    void write(CameraLogLevel level, std::string_view message) const {
        if (writer_)
            writer_(level, message);
    }

    CameraLogWriter writer_;
};

}  // namespace quillbridge
