#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/linux/x11/XcbConnection.hpp"

namespace quillbridge {

// A fixed set of MIT-SHM segments, all attached to the X server, that captured frames borrow: the server
// writes a grab straight into the segment that is then handed on as the frame's pixels, with no copy. A
// segment returns to the pool when the last holder of its frame lets go, from any thread; when every one is
// out, acquire() yields nothing at once. Made and destroyed on the thread that owns the connection.
// Destroying the pool detaches every segment from the server; a segment still held then stays mapped until
// its last holder lets go.
class XcbSharedImagePool {
public:
    struct Buffer {
        std::shared_ptr<std::uint8_t> data;
        // The server's name of the segment (for ShmGetImage).
        std::uint32_t segment = 0;
    };

    // Nothing when a segment cannot be made or attached (the caller copies from its own segment then).
    static std::unique_ptr<XcbSharedImagePool> create(XcbConnection& connection, std::size_t bufferSize,
                                                      std::size_t capacity);
    ~XcbSharedImagePool();
    XcbSharedImagePool(const XcbSharedImagePool&) = delete;
    XcbSharedImagePool& operator=(const XcbSharedImagePool&) = delete;

    std::optional<Buffer> acquire();
    std::size_t bufferSize() const { return bufferSize_; }
    std::size_t capacity() const { return capacity_; }

private:
    struct Segment {
        std::uint8_t* data = nullptr;
        std::uint32_t serverSegment = 0;
    };
    struct Storage {
        std::mutex mutex;
        std::vector<Segment> segments;
        std::vector<std::size_t> freeIndices;
        // Set when the pool is gone: returned segments are unmapped.
        bool isRetired = false;
    };

    XcbSharedImagePool(XcbConnection& connection, std::size_t bufferSize, std::size_t capacity);
    bool attachSegment();

    XcbConnection& connection_;
    std::size_t bufferSize_;
    std::size_t capacity_;
    std::shared_ptr<Storage> storage_;
};

}  // namespace quillbridge
