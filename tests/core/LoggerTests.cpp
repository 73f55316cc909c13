#include "core/Logger.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quillbridge {
namespace {

// Sets or clears an environment variable for the lifetime of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            previous_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        if (previous_) {
            ::setenv(name_, previous_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

TEST(LoggerTests, ArgumentsAreConcatenatedAsText) {
    std::uint8_t kind = 2;
    std::string text = "idle timeout";
    std::string_view view = "view";
    struct Case {
        std::string message;
        std::string expected;
    };
    for (const auto& [message, expected] : {
             Case{makeLogMessage("QUIC transport failed: ", text), "QUIC transport failed: idle timeout"},
             Case{makeLogMessage("VTCompressionSessionCreate failed with status ", -12902),
                  "VTCompressionSessionCreate failed with status -12902"},
             Case{makeLogMessage("kind ", kind, ", key frame ", true, ", ", view),
                  "kind 2, key frame true, view"},
             Case{makeLogMessage(), ""},
         }) {
        EXPECT_EQ(message, expected);
    }
}

TEST(LoggerTests, PrivateValuesAreRedactedUnlessPrivateLoggingIsEnabled) {
    struct Case {
        const char* environment;
        std::string expected;
    };
    for (const auto& [environment, expected] : {Case{nullptr, "Paired with <private> (code <private>)"},
                                                Case{"0", "Paired with <private> (code <private>)"},
                                                Case{"true", "Paired with <private> (code <private>)"},
                                                Case{"1", "Paired with Living Room (code 123456)"}}) {
        ScopedEnvironment variable("QUILLBRIDGE_LOG_PRIVATE", environment);
        ScopedLogCapture capture;
        Logger logger{"PairedPeerStore"};
        logger.info("Paired with ", privateValue(std::string("Living Room")), " (code ", privateValue(123456),
                    ")");
        EXPECT_EQ(capture.messages("PairedPeerStore"), std::vector<std::string>{expected})
            << (environment ? environment : "unset");
    }
}

TEST(LoggerTests, EachLevelReachesTheSinkWithSubsystemAndCategory) {
    ScopedLogCapture capture;
    Logger logger{"GeneratedTLSIdentity"};
    logger.debug("d");
    logger.info("i");
    logger.notice("n");
    logger.error("e");
    logger.fault("f");
    Logger{"Other", "com.example.other"}.info("x");

    auto records = capture.records();
    ASSERT_EQ(records.size(), 6u);
    std::vector<std::pair<LogLevel, std::string>> expected{{LogLevel::debug, "d"},
                                                           {LogLevel::info, "i"},
                                                           {LogLevel::notice, "n"},
                                                           {LogLevel::error, "e"},
                                                           {LogLevel::fault, "f"}};
    for (std::size_t index = 0; index < expected.size(); ++index) {
        EXPECT_EQ(records[index], (LogRecord{"Quillbridge", "GeneratedTLSIdentity", expected[index].first,
                                             expected[index].second}));
    }
    EXPECT_EQ(records.back(), (LogRecord{"com.example.other", "Other", LogLevel::info, "x"}));
    EXPECT_TRUE(capture.messages("Nobody").empty());
}

TEST(LoggerTests, CapturesNestAndRestoreThePreviousSink) {
    ScopedLogCapture outer;
    Logger logger{"AppActivation"};
    {
        ScopedLogCapture inner;
        logger.info("inner");
        EXPECT_EQ(inner.messages("AppActivation"), std::vector<std::string>{"inner"});
    }
    logger.info("outer");
    EXPECT_EQ(outer.messages("AppActivation"), std::vector<std::string>{"outer"});
    outer.clear();
    EXPECT_TRUE(outer.records().empty());
}

TEST(LoggerTests, StderrLinesNameSubsystemCategoryAndLevel) {
    struct Case {
        LogRecord record;
        std::string line;
    };
    for (const auto& [record, line] : {
             Case{{"Quillbridge", "PersonaCameraFeeder", LogLevel::error, "Feeder stalled"},
                  "[Quillbridge:PersonaCameraFeeder] error: Feeder stalled"},
             Case{{"Quillbridge", "AppActivation", LogLevel::fault, ""},
                  "[Quillbridge:AppActivation] fault: "},
             Case{{"Quillbridge", "X", LogLevel::notice, "a: b"}, "[Quillbridge:X] notice: a: b"},
         }) {
        EXPECT_EQ(formatLogLine(record), line);
    }

    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    StderrLogSink sink(file);
    sink.write({"Quillbridge", "PairedPeerStore", LogLevel::info, "Loaded 2 peers"});
    sink.write({"Quillbridge", "PairedPeerStore", LogLevel::debug, "done"});
    std::rewind(file);
    char buffer[256] = {};
    std::size_t length = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    EXPECT_EQ(
        std::string(buffer, length),
        "[Quillbridge:PairedPeerStore] info: Loaded 2 peers\n[Quillbridge:PairedPeerStore] debug: done\n");
}

TEST(LoggerTests, DefaultDestinationIsStderr) {
    auto previous = installLogSink(nullptr);
    testing::internal::CaptureStderr();
    Logger{"AppActivation"}.notice("Activated with ", privateValue("secret"));
    std::string written = testing::internal::GetCapturedStderr();
    installLogSink(previous);
    EXPECT_EQ(written, "[Quillbridge:AppActivation] notice: Activated with <private>\n");
}

// Counts how often it is written into a message.
struct FormatCounter {
    int* count;
};

std::ostream& operator<<(std::ostream& stream, const FormatCounter& counter) {
    ++*counter.count;
    return stream << "counted";
}

TEST(LoggerTests, TheThresholdDropsLowerLevelsBeforeFormattingThem) {
    constexpr LogLevel levels[] = {LogLevel::debug, LogLevel::info, LogLevel::notice, LogLevel::error,
                                   LogLevel::fault};
    for (auto threshold : {LogLevel::debug, LogLevel::info, LogLevel::notice, LogLevel::error}) {
        ScopedLogCapture capture(threshold);
        Logger logger{"QuicTransport"};
        int formatted = 0;
        for (auto level : levels) {
            switch (level) {
                case LogLevel::debug:
                    logger.debug(FormatCounter{&formatted});
                    break;
                case LogLevel::info:
                    logger.info(FormatCounter{&formatted});
                    break;
                case LogLevel::notice:
                    logger.notice(FormatCounter{&formatted});
                    break;
                case LogLevel::error:
                    logger.error(FormatCounter{&formatted});
                    break;
                case LogLevel::fault:
                    logger.fault(FormatCounter{&formatted});
                    break;
            }
            logger.log(level, "direct");
        }
        std::vector<LogLevel> expected;
        for (auto level : levels) {
            if (level >= threshold) {
                expected.push_back(level);
                expected.push_back(level);
            }
        }
        std::vector<LogLevel> seen;
        for (const auto& record : capture.records())
            seen.push_back(record.level);
        EXPECT_EQ(seen, expected) << logLevelName(threshold);
        EXPECT_EQ(formatted, static_cast<int>(expected.size() / 2)) << logLevelName(threshold);
    }
}

TEST(LoggerTests, TheEnvironmentChoosesTheThresholdAndFaultsAlwaysPass) {
    struct Case {
        const char* value;
        LogLevel threshold;
    };
    for (const auto& [value, threshold] : {
             Case{nullptr, LogLevel::info},
             Case{"debug", LogLevel::debug},
             Case{"info", LogLevel::info},
             Case{"NOTICE", LogLevel::notice},
             Case{"error", LogLevel::error},
             Case{"fault", LogLevel::error},
             Case{"verbose", LogLevel::info},
             Case{"", LogLevel::info},
             Case{"debug ", LogLevel::info},
         }) {
        ScopedEnvironment variable("QUILLBRIDGE_LOG_LEVEL", value);
        EXPECT_EQ(logLevelThresholdFromEnvironment(), threshold) << (value ? value : "unset");
    }
    ScopedLogCapture capture(LogLevel::error);
    EXPECT_EQ(setLogLevelThreshold(LogLevel::fault), LogLevel::error);
    EXPECT_EQ(logLevelThreshold(), LogLevel::error);
    EXPECT_TRUE(isLogLevelEnabled(LogLevel::fault));
    EXPECT_FALSE(isLogLevelEnabled(LogLevel::notice));
}

}  // namespace
}  // namespace quillbridge
