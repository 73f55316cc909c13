#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>

namespace quillbridge {

// Two 64-bit values that one writer updates together and any thread reads without a lock (a sequence lock).
// The writer makes the counter odd, updates both values and makes it even again; a reader accepts the values
// only when the counter was even and unchanged around its reads. Reading gives up after a bounded number of
// attempts, so a reader never spins on a writer that stopped half-way.
class MicrophoneSequencedPair {
public:
    static constexpr int maximumReadAttempts = 64;

    // The writer's steps; write() runs all three.
    void beginWrite() {
        sequence_.store(sequence_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
    }
    void storeValues(std::uint64_t first, std::uint64_t second) {
        first_.store(first, std::memory_order_relaxed);
        second_.store(second, std::memory_order_relaxed);
    }
    void endWrite() {
        sequence_.store(sequence_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }
    void write(std::uint64_t first, std::uint64_t second) {
        beginWrite();
        storeValues(first, second);
        endWrite();
    }

    // Both values as one writer left them; nothing when no consistent read succeeded in the bounded attempts.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> read() const {
        for (int attempt = 0; attempt < maximumReadAttempts; ++attempt) {
            std::uint64_t before = sequence_.load(std::memory_order_acquire);
            if ((before & 1) != 0) {
                continue;
            }
            std::uint64_t first = first_.load(std::memory_order_relaxed);
            std::uint64_t second = second_.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (sequence_.load(std::memory_order_relaxed) == before) {
                return std::pair{first, second};
            }
        }
        return std::nullopt;
    }

private:
    std::atomic<std::uint64_t> sequence_{0};
    std::atomic<std::uint64_t> first_{0};
    std::atomic<std::uint64_t> second_{0};
};

}  // namespace quillbridge
