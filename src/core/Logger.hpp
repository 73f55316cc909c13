#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace quillbridge {

enum class LogLevel { debug, info, notice, error, fault };

// "debug", "info", "notice", "error" or "fault".
std::string_view logLevelName(LogLevel level);

// The level a name stands for ("debug", "info", "notice", "error" or "fault", in any case); nothing for
// another text.
std::optional<LogLevel> parseLogLevel(std::string_view name);

// The threshold the environment asks for: QUILLBRIDGE_LOG_LEVEL=debug|info|notice|error, info when the
// variable is unset or names no level.
LogLevel logLevelThresholdFromEnvironment();

// Records below the process-wide threshold are dropped before their message is formatted. The threshold
// starts as logLevelThresholdFromEnvironment() and is never above error: faults always reach the sink.
LogLevel logLevelThreshold();
// Sets the threshold (clamped to error) and returns the one it replaced.
LogLevel setLogLevelThreshold(LogLevel level);
bool isLogLevelEnabled(LogLevel level);

// One log line as a sink receives it: the message is already formatted and redacted.
struct LogRecord {
    std::string subsystem;
    std::string category;
    LogLevel level = LogLevel::info;
    std::string message;

    bool operator==(const LogRecord&) const = default;
};

// Where log records go. Sinks are called from any thread and must be thread-safe.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
};

// "[Subsystem:Category] level: message", without a line break.
std::string formatLogLine(const LogRecord& record);

// Writes each record as one formatted line to a stdio stream (stderr unless told otherwise).
class StderrLogSink final : public LogSink {
public:
    explicit StderrLogSink(std::FILE* stream = stderr) : stream_(stream) {}
    void write(const LogRecord& record) override;

private:
    std::FILE* stream_;
    std::mutex mutex_;
};

// Replaces the process-wide sink and returns the one it replaced. Passing nullptr restores the default
// (stderr). The systemd journal sink is installed by useSystemJournalWhenPresent()
// (platform/linux/journal/JournalLogSink.hpp), which the host program calls at start-up.
std::shared_ptr<LogSink> installLogSink(std::shared_ptr<LogSink> sink);

// Whether private values are written in clear: only when QUILLBRIDGE_LOG_PRIVATE=1 is set.
bool isPrivateLoggingEnabled();

// Marks a value as private: it is written as "<private>" unless private logging is enabled. Use it inline
// in a log call; it refers to the value and must not outlive it.
template <class T>
struct PrivateValue {
    const T& value;
};

template <class T>
PrivateValue<T> privateValue(const T& value) {
    return PrivateValue<T>{value};
}

namespace detail {

template <class T>
struct IsPrivateValue : std::false_type {};
template <class T>
struct IsPrivateValue<PrivateValue<T>> : std::true_type {};

template <class T>
void appendLogValue(std::ostringstream& stream, const T& value) {
    if constexpr (IsPrivateValue<T>::value) {
        if (isPrivateLoggingEnabled()) {
            appendLogValue(stream, value.value);
        } else {
            stream << "<private>";
        }
    } else if constexpr (std::is_same_v<T, bool>) {
        stream << (value ? "true" : "false");
    } else if constexpr (std::is_integral_v<T> && sizeof(T) == 1 && !std::is_same_v<T, char>) {
        // uint8_t and int8_t are numbers here, not characters.
        stream << static_cast<int>(value);
    } else {
        stream << value;
    }
}

}  // namespace detail

// Concatenates the arguments as text: strings as they are, numbers in decimal, bools as true/false, private
// values redacted.
template <class... Args>
std::string makeLogMessage(const Args&... args) {
    std::ostringstream stream;
    (detail::appendLogValue(stream, args), ...);
    return std::move(stream).str();
}

// One logger per component: Logger logger{"PairedPeerStore"};
//   logger.error("QUIC transport failed: ", text);
//   logger.info("Paired with ", privateValue(peerName));
// Each call formats its arguments into one message and hands it to the process-wide sink; a call below the
// threshold (logLevelThreshold()) costs a comparison and formats nothing.
class Logger {
public:
    explicit Logger(std::string_view category, std::string_view subsystem = "Quillbridge");

    const std::string& category() const { return category_; }
    const std::string& subsystem() const { return subsystem_; }

    // Drops the record when its level is below the threshold.
    void log(LogLevel level, std::string message) const;

    template <class... Args>
    void debug(const Args&... args) const {
        if (isLogLevelEnabled(LogLevel::debug))
            log(LogLevel::debug, makeLogMessage(args...));
    }
    template <class... Args>
    void info(const Args&... args) const {
        if (isLogLevelEnabled(LogLevel::info))
            log(LogLevel::info, makeLogMessage(args...));
    }
    template <class... Args>
    void notice(const Args&... args) const {
        if (isLogLevelEnabled(LogLevel::notice))
            log(LogLevel::notice, makeLogMessage(args...));
    }
    template <class... Args>
    void error(const Args&... args) const {
        if (isLogLevelEnabled(LogLevel::error))
            log(LogLevel::error, makeLogMessage(args...));
    }
    template <class... Args>
    void fault(const Args&... args) const {
        if (isLogLevelEnabled(LogLevel::fault))
            log(LogLevel::fault, makeLogMessage(args...));
    }

private:
    std::string subsystem_;
    std::string category_;
};

// Test seam: while it lives, every log record is captured here instead of reaching the previous sink, and
// the threshold is the one given (every level by default); it restores both when destroyed.
class ScopedLogCapture {
public:
    explicit ScopedLogCapture(LogLevel threshold = LogLevel::debug);
    ~ScopedLogCapture();
    ScopedLogCapture(const ScopedLogCapture&) = delete;
    ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;

    std::vector<LogRecord> records() const;
    // The messages of the captured records of one category, in order.
    std::vector<std::string> messages(std::string_view category) const;
    void clear();

private:
    class Sink;
    std::shared_ptr<Sink> sink_;
    std::shared_ptr<LogSink> previous_;
    LogLevel previousThreshold_;
};

}  // namespace quillbridge
