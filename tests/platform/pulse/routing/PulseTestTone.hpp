#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <pulse/stream.h>

#include "platform/linux/pulse/PulseConnection.hpp"

namespace quillbridge {

// A sine tone played into the sound server on a connection of its own, written from the connection's loop
// thread as the server asks for more, until destroyed. Stands for a desktop application's playback.
class PulseTestTone {
public:
    struct Options {
        double frequencyHertz = 440;
        // Empty: the default sink.
        std::string sink;
        // The stream asks not to be moved (PA_STREAM_DONT_MOVE).
        bool refusesToMove = false;
    };

    // Nothing, with the reason in `error`, when the stream cannot be played.
    static std::unique_ptr<PulseTestTone> start(Options options, std::string* error);
    ~PulseTestTone();
    PulseTestTone(const PulseTestTone&) = delete;
    PulseTestTone& operator=(const PulseTestTone&) = delete;

    // The stream's sink input on the server.
    std::uint32_t sinkInput() const { return sinkInput_; }

private:
    PulseTestTone(Options options, std::unique_ptr<PulseConnection> connection)
        : options_(std::move(options)), connection_(std::move(connection)) {}
    static void writable(pa_stream* stream, std::size_t bytes, void* userdata);

    Options options_;
    pa_stream* stream_ = nullptr;
    std::uint32_t sinkInput_ = 0;
    std::uint64_t frame_ = 0;
    // Last member: destroyed first, so the loop thread has stopped before the state above goes.
    std::unique_ptr<PulseConnection> connection_;
};

}  // namespace quillbridge
