#include "platform/linux/journal/JournalLogSink.hpp"

#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Logger.hpp"

namespace quillbridge {
namespace {

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
