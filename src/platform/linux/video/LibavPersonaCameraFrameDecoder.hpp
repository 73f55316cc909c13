#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "bridge/PersonaCameraFrameDecoder.hpp"

namespace quillbridge {

// The Persona camera's decoder on libavcodec (H.264 and HEVC, low delay, one session per format): samples
// queue for the decoder's own thread, which decodes them, converts each picture to NV12 in video range
// (10-bit pictures down to 8 bits, full-range pictures into video range) and hands it to the output
// handler there. At most `maximumQueuedSamples` wait; beyond that a sample is dropped and so are the delta
// frames after it, until the next key frame.
class LibavPersonaCameraFrameDecoder final : public PersonaCameraFrameDecoder {
public:
    static constexpr std::size_t maximumQueuedSamples = 16;
    // Larger pictures than this are not decoded (a parameter set may claim any size).
    static constexpr int maximumPixelCount = 8192 * 8192;

    explicit LibavPersonaCameraFrameDecoder(OutputHandler outputHandler);
    ~LibavPersonaCameraFrameDecoder() override;
    LibavPersonaCameraFrameDecoder(const LibavPersonaCameraFrameDecoder&) = delete;
    LibavPersonaCameraFrameDecoder& operator=(const LibavPersonaCameraFrameDecoder&) = delete;

    bool prepare(const std::shared_ptr<const PersonaCameraFormatDescription>& formatDescription) override;
    void decode(PersonaCameraSampleBuffer sample) override;
    void invalidate() override;

private:
    struct Session;
    struct Job {
        std::shared_ptr<Session> session;
        PersonaCameraSampleBuffer sample;
    };

    void invalidateLocked();
    void run();
    void decodeJob(Job& job);

    OutputHandler outputHandler_;
    // Held by the worker around each call of the output handler, so that once invalidate() returns no
    // picture of the ended session reaches the handler any more.
    std::mutex outputLock_;
    std::mutex lock_;
    std::condition_variable jobsChanged_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    bool skippingUntilKeyFrame_ = false;
    std::shared_ptr<Session> session_;
    std::shared_ptr<const PersonaCameraFormatDescription> activeFormatDescription_;
    std::thread worker_;
};

}  // namespace quillbridge
