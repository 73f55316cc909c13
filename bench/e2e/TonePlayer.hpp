#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

struct pa_simple;

namespace quillbridge {

// Plays a stereo sine tone into the sound server's default sink from a thread of its own until destroyed.
class TonePlayer {
public:
    // Nothing, with the reason in `error`, when no sound server answers.
    static std::unique_ptr<TonePlayer> start(double frequencyHertz, std::string* error);
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    // The playing thread, for measuring its CPU time.
    std::thread& thread() { return thread_; }

private:
    TonePlayer(pa_simple* stream, double frequencyHertz);
    void run();

    pa_simple* stream_;
    double frequencyHertz_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace quillbridge
