#include "capture/AudioSampleClock.hpp"

namespace quillbridge {

std::uint64_t AudioSampleClock::nanoseconds(std::uint64_t frames) const {
    if (sampleRate_ == 0) {
        return 0;
    }
    // Whole seconds and the remainder apart, so long counts cannot overflow.
    return frames / sampleRate_ * 1'000'000'000u + frames % sampleRate_ * 1'000'000'000u / sampleRate_;
}

std::uint64_t AudioSampleClock::stamp(std::uint64_t frames) {
    const std::uint64_t now = timing_.nowNanoseconds();
    const std::optional<std::uint64_t> age = timing_.unreadAudioAgeNanoseconds();
    // Without the server's measure, the buffer's last frame counts as taken just now.
    const std::uint64_t ago = age.value_or(nanoseconds(frames));
    const std::uint64_t expected = now > ago ? now - ago : 0;
    if (anchorNanoseconds_) {
        const std::uint64_t counted = *anchorNanoseconds_ + nanoseconds(framesSinceAnchor_);
        const std::uint64_t drift = counted > expected ? counted - expected : expected - counted;
        if (drift <= resyncThresholdNanoseconds_ && (anchorIsMeasured_ || !age)) {
            framesSinceAnchor_ += frames;
            return counted;
        }
        ++resyncCount_;
    }
    anchorNanoseconds_ = expected;
    anchorIsMeasured_ = age.has_value();
    framesSinceAnchor_ = frames;
    return expected;
}

}  // namespace quillbridge
