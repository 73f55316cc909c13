#include "core/Logger.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace quillbridge {

namespace {

struct SinkSlot {
    std::mutex mutex;
    std::shared_ptr<LogSink> sink;
};

// Built on first use and never destroyed, so loggers may log during static initialisation and destruction.
SinkSlot& sinkSlot() {
    static auto* slot = new SinkSlot;
    return *slot;
}

const std::shared_ptr<LogSink>& defaultSink() {
    static const auto* sink = new std::shared_ptr<LogSink>(std::make_shared<StderrLogSink>());
    return *sink;
}

std::shared_ptr<LogSink> currentSink() {
    auto& slot = sinkSlot();
    std::lock_guard lock(slot.mutex);
    if (!slot.sink)
        slot.sink = defaultSink();
    return slot.sink;
}

constexpr int thresholdUnset = -1;

std::atomic<int>& thresholdSlot() {
    static std::atomic<int> threshold{thresholdUnset};
    return threshold;
}

LogLevel clampThreshold(LogLevel level) {
    return std::min(level, LogLevel::error);
}

}  // namespace

std::optional<LogLevel> parseLogLevel(std::string_view name) {
    for (auto level : {LogLevel::debug, LogLevel::info, LogLevel::notice, LogLevel::error, LogLevel::fault}) {
        const auto candidate = logLevelName(level);
        if (std::equal(name.begin(), name.end(), candidate.begin(), candidate.end(),
                       [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; })) {
            return level;
        }
    }
    return std::nullopt;
}

LogLevel logLevelThresholdFromEnvironment() {
    const char* value = std::getenv("QUILLBRIDGE_LOG_LEVEL");
    if (value == nullptr)
        return LogLevel::info;
    const auto level = parseLogLevel(value);
    return level ? clampThreshold(*level) : LogLevel::info;
}

LogLevel logLevelThreshold() {
    auto& slot = thresholdSlot();
    int value = slot.load(std::memory_order_relaxed);
    if (value != thresholdUnset)
        return static_cast<LogLevel>(value);
    const auto fromEnvironment = logLevelThresholdFromEnvironment();
    if (slot.compare_exchange_strong(value, static_cast<int>(fromEnvironment), std::memory_order_relaxed)) {
        const char* text = std::getenv("QUILLBRIDGE_LOG_LEVEL");
        if (text != nullptr && !parseLogLevel(text)) {
            // Said once, straight to the sink: the threshold is settled by now.
            currentSink()->write(LogRecord{"Quillbridge", "Logger", LogLevel::notice,
                                           makeLogMessage("Ignoring QUILLBRIDGE_LOG_LEVEL=", text,
                                                          ": expected debug, info, notice or error")});
        }
        return fromEnvironment;
    }
    return static_cast<LogLevel>(value);
}

LogLevel setLogLevelThreshold(LogLevel level) {
    const auto previous = logLevelThreshold();
    thresholdSlot().store(static_cast<int>(clampThreshold(level)), std::memory_order_relaxed);
    return previous;
}

bool isLogLevelEnabled(LogLevel level) {
    return level >= logLevelThreshold();
}

std::string_view logLevelName(LogLevel level) {
    switch (level) {
        case LogLevel::debug:
            return "debug";
        case LogLevel::info:
            return "info";
        case LogLevel::notice:
            return "notice";
        case LogLevel::error:
            return "error";
        case LogLevel::fault:
            return "fault";
    }
    return "info";
}

std::string formatLogLine(const LogRecord& record) {
    std::string line;
    line.reserve(record.subsystem.size() + record.category.size() + record.message.size() + 16);
    line += '[';
    line += record.subsystem;
    line += ':';
    line += record.category;
    line += "] ";
    line += logLevelName(record.level);
    line += ": ";
    line += record.message;
    return line;
}

void StderrLogSink::write(const LogRecord& record) {
    std::string line = formatLogLine(record);
    line += '\n';
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), stream_);
    std::fflush(stream_);
}

std::shared_ptr<LogSink> installLogSink(std::shared_ptr<LogSink> sink) {
    auto& slot = sinkSlot();
    std::lock_guard lock(slot.mutex);
    auto previous = std::exchange(slot.sink, sink ? std::move(sink) : defaultSink());
    return previous ? previous : defaultSink();
}

bool isPrivateLoggingEnabled() {
    const char* value = std::getenv("QUILLBRIDGE_LOG_PRIVATE");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

Logger::Logger(std::string_view category, std::string_view subsystem)
    : subsystem_(subsystem), category_(category) {}

void Logger::log(LogLevel level, std::string message) const {
    if (!isLogLevelEnabled(level))
        return;
    auto sink = currentSink();
    sink->write(LogRecord{subsystem_, category_, level, std::move(message)});
}

class ScopedLogCapture::Sink final : public LogSink {
public:
    void write(const LogRecord& record) override {
        std::lock_guard lock(mutex);
        records.push_back(record);
    }

    mutable std::mutex mutex;
    std::vector<LogRecord> records;
};

ScopedLogCapture::ScopedLogCapture(LogLevel threshold)
    : sink_(std::make_shared<Sink>()), previousThreshold_(setLogLevelThreshold(threshold)) {
    previous_ = installLogSink(sink_);
}

ScopedLogCapture::~ScopedLogCapture() {
    installLogSink(previous_);
    setLogLevelThreshold(previousThreshold_);
}

std::vector<LogRecord> ScopedLogCapture::records() const {
    std::lock_guard lock(sink_->mutex);
    return sink_->records;
}

std::vector<std::string> ScopedLogCapture::messages(std::string_view category) const {
    std::lock_guard lock(sink_->mutex);
    std::vector<std::string> result;
    for (const auto& record : sink_->records) {
        if (record.category == category)
            result.push_back(record.message);
    }
    return result;
}

void ScopedLogCapture::clear() {
    std::lock_guard lock(sink_->mutex);
    sink_->records.clear();
}

}  // namespace quillbridge
