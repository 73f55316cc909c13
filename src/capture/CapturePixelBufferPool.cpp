#include "capture/CapturePixelBufferPool.hpp"

namespace quillbridge {

CapturePixelBufferPool::CapturePixelBufferPool(std::size_t bufferSize, std::size_t capacity)
    : bufferSize_(bufferSize), capacity_(capacity), storage_(std::make_shared<Storage>()) {
    storage_->buffers.reserve(capacity);
    for (std::size_t index = 0; index < capacity; ++index) {
        // Allocated on first use, so a pool sized for a large queue costs only what is really used.
        storage_->buffers.emplace_back();
        storage_->freeIndices.push_back(capacity - 1 - index);
    }
}

CapturePixelBufferPool::~CapturePixelBufferPool() {
    std::lock_guard lock(storage_->mutex);
    storage_->isRetired = true;
    for (const std::size_t index : storage_->freeIndices) {
        freeBuffer(storage_->buffers[index]);
    }
    storage_->freeIndices.clear();
}

void CapturePixelBufferPool::freeBuffer(std::unique_ptr<std::uint8_t[]>& buffer) {
    if (buffer) {
        buffer.reset();
        liveBuffers_.fetch_sub(1);
    }
}

std::shared_ptr<std::uint8_t> CapturePixelBufferPool::acquire() {
    std::lock_guard lock(storage_->mutex);
    if (storage_->freeIndices.empty()) {
        return nullptr;
    }
    const std::size_t index = storage_->freeIndices.back();
    storage_->freeIndices.pop_back();
    auto& buffer = storage_->buffers[index];
    if (!buffer) {
        // Not zeroed: every grab writes the whole frame.
        buffer = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize_);
        liveBuffers_.fetch_add(1);
    }
    return std::shared_ptr<std::uint8_t>(buffer.get(), [storage = storage_, index](std::uint8_t*) {
        std::lock_guard lock(storage->mutex);
        if (storage->isRetired) {
            freeBuffer(storage->buffers[index]);
        } else {
            storage->freeIndices.push_back(index);
        }
    });
}

std::size_t CapturePixelBufferPool::availableCount() const {
    std::lock_guard lock(storage_->mutex);
    return storage_->freeIndices.size();
}

std::size_t CapturePixelBufferPool::allocatedCount() const {
    std::lock_guard lock(storage_->mutex);
    std::size_t count = 0;
    for (const auto& buffer : storage_->buffers) {
        count += buffer ? 1 : 0;
    }
    return count;
}

}  // namespace quillbridge
