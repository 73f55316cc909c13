#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace quillbridge {

// A fixed set of equally sized pixel buffers that captured frames borrow. A buffer returns to the pool
// when the last holder of the frame lets go, from any thread. When every buffer is out, acquire() yields
// nothing at once: the capture skips that grab rather than wait for the consumers.
//
// Buffers are allocated on first use. Destroying the pool frees every buffer not lent out at once; a buffer
// still held then is freed when its last holder lets go, so a frame that outlives its capture keeps only
// its own buffer, never the whole set.
class CapturePixelBufferPool {
public:
    CapturePixelBufferPool(std::size_t bufferSize, std::size_t capacity);
    ~CapturePixelBufferPool();
    CapturePixelBufferPool(const CapturePixelBufferPool&) = delete;
    CapturePixelBufferPool& operator=(const CapturePixelBufferPool&) = delete;

    // A free buffer, or nothing when all are held.
    std::shared_ptr<std::uint8_t> acquire();

    std::size_t bufferSize() const { return bufferSize_; }
    std::size_t capacity() const { return capacity_; }
    std::size_t availableCount() const;
    // Buffers allocated now, lent out or free.
    std::size_t allocatedCount() const;

    // Buffers of every pool in the process, allocated and not yet freed (diagnostics and tests).
    static std::size_t liveBufferCount() { return liveBuffers_.load(); }

private:
    struct Storage {
        std::mutex mutex;
        std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
        std::vector<std::size_t> freeIndices;
        // Set when the pool is gone: returned buffers are freed.
        bool isRetired = false;
    };

    static void freeBuffer(std::unique_ptr<std::uint8_t[]>& buffer);

    std::size_t bufferSize_;
    std::size_t capacity_;
    std::shared_ptr<Storage> storage_;
    static inline std::atomic<std::size_t> liveBuffers_{0};
};

}  // namespace quillbridge
