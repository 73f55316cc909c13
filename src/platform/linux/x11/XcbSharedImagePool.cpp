#include "platform/linux/x11/XcbSharedImagePool.hpp"

#include "platform/linux/x11/XcbSharedSegment.hpp"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

namespace quillbridge {

std::unique_ptr<XcbSharedImagePool> XcbSharedImagePool::create(XcbConnection& connection,
                                                               std::size_t bufferSize, std::size_t capacity) {
    if (bufferSize == 0 || capacity == 0 || !connection.hasExtension("MIT-SHM")) {
        return nullptr;
    }
    std::unique_ptr<XcbSharedImagePool> pool(new XcbSharedImagePool(connection, bufferSize, capacity));
    for (std::size_t index = 0; index < capacity; ++index) {
        if (!pool->attachSegment()) {
            return nullptr;
        }
    }
    return pool;
}

XcbSharedImagePool::XcbSharedImagePool(XcbConnection& connection, std::size_t bufferSize,
                                       std::size_t capacity)
    : connection_(connection),
      bufferSize_(bufferSize),
      capacity_(capacity),
      storage_(std::make_shared<Storage>()) {}

XcbSharedImagePool::~XcbSharedImagePool() {
    std::lock_guard lock(storage_->mutex);
    storage_->isRetired = true;
    if (!connection_.hasError()) {
        for (const auto& segment : storage_->segments) {
            xcb_shm_detach(connection_.get(), segment.serverSegment);
        }
        xcb_flush(connection_.get());
    }
    for (const std::size_t index : storage_->freeIndices) {
        shmdt(storage_->segments[index].data);
    }
    storage_->freeIndices.clear();
}

bool XcbSharedImagePool::attachSegment() {
    const auto attached = XcbSharedSegment::attach(connection_, bufferSize_);
    if (!attached) {
        return false;
    }
    // Segments attached before a failure are detached and unmapped by the destructor.
    std::lock_guard lock(storage_->mutex);
    storage_->segments.push_back({attached->data, attached->segment});
    storage_->freeIndices.push_back(storage_->segments.size() - 1);
    return true;
}

std::optional<XcbSharedImagePool::Buffer> XcbSharedImagePool::acquire() {
    std::lock_guard lock(storage_->mutex);
    if (storage_->freeIndices.empty()) {
        return std::nullopt;
    }
    const std::size_t index = storage_->freeIndices.back();
    storage_->freeIndices.pop_back();
    const Segment segment = storage_->segments[index];
    auto data =
        std::shared_ptr<std::uint8_t>(segment.data, [storage = storage_, index](std::uint8_t* pixels) {
            std::lock_guard lock(storage->mutex);
            if (storage->isRetired) {
                shmdt(pixels);
            } else {
                storage->freeIndices.push_back(index);
            }
        });
    return Buffer{std::move(data), segment.serverSegment};
}

}  // namespace quillbridge
