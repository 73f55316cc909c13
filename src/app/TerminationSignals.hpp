#pragma once

#include <functional>
#include <memory>

#include <QSocketNotifier>

namespace quillbridge {

// SIGINT and SIGTERM as quit requests on the GUI thread: the handler writes one byte to a pipe whose read end
// the event loop watches, and each signal received calls the handler there once. One instance per process;
// the signals return to their default action when it goes.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void()> onQuitRequest);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the pipe or the handlers could not be installed.
    bool isInstalled() const { return notifier_ != nullptr; }

private:
    void drain();

    std::function<void()> onQuitRequest_;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace quillbridge
