#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace quillbridge {

// A fixed set of equally sized pixel buffers that captured frames borrow. A buffer returns to the pool
// when the last holder of the frame lets go, from any thread. When every buffer is out, acquire() yields
// nothing at once: the capture skips that grab rather than wait for the consumers.
class CapturePixelBufferPool {
public:
    CapturePixelBufferPool(std::size_t bufferSize, std::size_t capacity);

    // A free buffer, or nothing when all are held. The pool's storage lives as long as any buffer it handed
    // out, even when the pool object itself is gone.
    std::shared_ptr<std::uint8_t> acquire();

    std::size_t bufferSize() const { return bufferSize_; }
    std::size_t capacity() const { return capacity_; }
    std::size_t availableCount() const;

private:
    struct Storage {
        std::mutex mutex;
        std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
        std::vector<std::size_t> freeIndices;
    };

    std::size_t bufferSize_;
    std::size_t capacity_;
    std::shared_ptr<Storage> storage_;
};

}  // namespace quillbridge
