#include "app/TerminationSignals.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "core/Logger.hpp"

namespace quillbridge {
namespace {

std::atomic<int> signalPipeWriteEnd{-1};

void onSignal(int) {
    const int savedErrno = errno;
    const int descriptor = signalPipeWriteEnd.load();
    if (descriptor >= 0) {
        const char byte = 1;
        // A full pipe already holds requests enough.
        [[maybe_unused]] auto written = ::write(descriptor, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> onQuitRequest)
    : onQuitRequest_(std::move(onQuitRequest)) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        Logger("App").error("Unable to watch SIGINT and SIGTERM: no pipe");
        return;
    }
    signalPipeWriteEnd = pipe_[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { drain(); });
}

TerminationSignals::~TerminationSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    signalPipeWriteEnd = -1;
    notifier_.reset();
    for (int descriptor : pipe_) {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
    }
}

void TerminationSignals::drain() {
    char bytes[16];
    for (;;) {
        const auto count = ::read(pipe_[0], bytes, sizeof bytes);
        if (count <= 0) {
            return;
        }
        for (ssize_t index = 0; index < count; ++index) {
            onQuitRequest_();
        }
    }
}

}  // namespace quillbridge
