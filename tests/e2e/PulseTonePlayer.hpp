#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace quillbridge {

// Plays a sine tone into the sound server's default sink on a thread of its own until it is destroyed.
class PulseTonePlayer {
public:
    // How much the server buffers ahead of the sink.
    enum class Buffer {
        serverDefault,
        // A few writes only: the writes are paced closely by the sink.
        shortest,
    };

    // Nothing, with the reason in `error`, when no sound server answers.
    static std::unique_ptr<PulseTonePlayer> start(double frequencyHertz, std::string* error,
                                                  Buffer buffer = Buffer::serverDefault);
    ~PulseTonePlayer();
    PulseTonePlayer(const PulseTonePlayer&) = delete;
    PulseTonePlayer& operator=(const PulseTonePlayer&) = delete;

    // The playing thread, for measuring its CPU time.
    std::thread& thread() { return thread_; }

private:
    PulseTonePlayer(void* stream, double frequencyHertz);
    void run();

    void* stream_;
    double frequencyHertz_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace quillbridge
