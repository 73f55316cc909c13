#pragma once

#include <functional>
#include <utility>

namespace quillbridge {

// The permission to let the system sleep, handed along with a will-sleep event. The system waits (up to its
// own limit) until the receiver has suspended streaming and calls release(). Releasing twice does nothing;
// an unreleased token releases when it is destroyed, so the system is never held back by a lost event.
class SleepDelayRelease {
public:
    SleepDelayRelease() = default;
    explicit SleepDelayRelease(std::function<void()> release) : release_(std::move(release)) {}
    ~SleepDelayRelease() { release(); }

    SleepDelayRelease(SleepDelayRelease&& other) noexcept : release_(std::move(other.release_)) {
        other.release_ = nullptr;
    }
    SleepDelayRelease& operator=(SleepDelayRelease&& other) noexcept {
        if (this != &other) {
            release();
            release_ = std::move(other.release_);
            other.release_ = nullptr;
        }
        return *this;
    }
    SleepDelayRelease(const SleepDelayRelease&) = delete;
    SleepDelayRelease& operator=(const SleepDelayRelease&) = delete;

    // Whether the system still waits for this token.
    bool isPending() const { return static_cast<bool>(release_); }

    void release() {
        if (auto release = std::exchange(release_, nullptr)) {
            release();
        }
    }

private:
    std::function<void()> release_;
};

}  // namespace quillbridge
