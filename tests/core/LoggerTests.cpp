#include "core/Logger.hpp"

#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/journal/JournalLogSink.hpp"

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

// ---- systemd journal

// What a child process saw when it logged through the journal sink to a journal socket of its own.
struct JournalProbe {
    bool skipped = false;
    std::string detail;
    std::string datagram;
};

// In a child process with a private mount namespace, a datagram socket stands in for journald at
// /run/systemd/journal/socket; the child logs once and reports what arrived there.
JournalProbe probeJournal() {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {true, "pipe failed", {}};
    pid_t child = ::fork();
    if (child < 0)
        return {true, "fork failed", {}};
    if (child == 0) {
        ::close(pipeFds[0]);
        auto report = [&](char status, const std::string& text) {
            std::string message = status + text;
            [[maybe_unused]] auto written = ::write(pipeFds[1], message.data(), message.size());
            ::_exit(0);
        };
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
            report('S', "no private mount namespace here");
        }
        ::mkdir("/run/systemd", 0755);
        ::mkdir("/run/systemd/journal", 0755);
        if (isSystemJournalPresent() || useSystemJournalWhenPresent())
            report('F', "journal seen before it exists");

        int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "/run/systemd/journal/socket");
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            report('S', "cannot bind a journal socket");
        }
        timeval timeout{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        if (!useSystemJournalWhenPresent())
            report('F', "journal not detected");

        Logger{"PairedPeerStore"}.error("Could not save ", privateValue("peer"), ": disk full");
        char buffer[4096];
        auto received = ::recv(fd, buffer, sizeof buffer, 0);
        if (received <= 0)
            report('F', "nothing reached the journal socket");
        report('O', std::string(buffer, static_cast<std::size_t>(received)));
    }
    ::close(pipeFds[1]);
    std::string output;
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<std::size_t>(count));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (output.empty())
        return {false, "child reported nothing", {}};
    if (output[0] == 'S')
        return {true, output.substr(1), {}};
    if (output[0] == 'F')
        return {false, output.substr(1), {}};
    return {false, {}, output.substr(1)};
}

TEST(JournalLogSinkTests, RecordsReachTheJournalWithTheirFields) {
    auto probe = probeJournal();
    if (probe.skipped)
        GTEST_SKIP() << probe.detail;
    ASSERT_TRUE(probe.detail.empty()) << probe.detail;

    std::vector<std::string> fields;
    std::size_t start = 0;
    while (start < probe.datagram.size()) {
        auto end = probe.datagram.find('\n', start);
        if (end == std::string::npos)
            end = probe.datagram.size();
        fields.push_back(probe.datagram.substr(start, end - start));
        start = end + 1;
    }
    for (const char* expected :
         {"MESSAGE=Could not save <private>: disk full", "PRIORITY=3", "SYSLOG_IDENTIFIER=quillbridge",
          "QUILLBRIDGE_SUBSYSTEM=Quillbridge", "QUILLBRIDGE_CATEGORY=PairedPeerStore"}) {
        EXPECT_NE(std::find(fields.begin(), fields.end(), expected), fields.end()) << expected << "\n"
                                                                                   << probe.datagram;
    }
}

}  // namespace
}  // namespace quillbridge
