#include "core/Logger.hpp"

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

}  // namespace

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

ScopedLogCapture::ScopedLogCapture() : sink_(std::make_shared<Sink>()) {
    previous_ = installLogSink(sink_);
}

ScopedLogCapture::~ScopedLogCapture() {
    installLogSink(previous_);
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
