#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/x11/XcbConnection.hpp"

namespace quillbridge {

// Reads rectangles of the root window as BGRA pixels: through a MIT-SHM segment when the server offers it,
// else with core GetImage. Needs a TrueColor root of depth 24 or 32 with 32 bits per pixel. Used by one
// thread.
class XcbScreenGrabber {
public:
    enum class Method { sharedMemory, coreGetImage };

    struct Image {
        // Top-left pixel; rows of `bytesPerRow` bytes. Valid until the next grab.
        std::uint8_t* data = nullptr;
        std::size_t bytesPerRow = 0;
        int width = 0;
        int height = 0;
    };

    // Nothing, with the reason in `error`, when the root window's format cannot be read as BGRA.
    static std::unique_ptr<XcbScreenGrabber> create(XcbConnection& connection, bool allowSharedMemory,
                                                    std::string* error);
    ~XcbScreenGrabber();
    XcbScreenGrabber(const XcbScreenGrabber&) = delete;
    XcbScreenGrabber& operator=(const XcbScreenGrabber&) = delete;

    Method method() const { return method_; }

    // The root window's size, when RandR changed it since the connection was made.
    void setRootSize(int width, int height) {
        rootWidth_ = width;
        rootHeight_ = height;
    }

    // Nothing when the rectangle is not inside the root window or the connection failed.
    std::optional<Image> grab(int x, int y, int width, int height);
    // The same through MIT-SHM into a segment the caller attached (`data`, its mapping, holds at least
    // width * height * 4 bytes); nothing also when this grabber does not use shared memory.
    std::optional<Image> grabInto(int x, int y, int width, int height, std::uint32_t segment,
                                  std::uint8_t* data);

private:
    explicit XcbScreenGrabber(XcbConnection& connection) : connection_(connection) {}

    bool attachSegment(std::size_t size);
    void detachSegment();
    bool fits(int x, int y, int width, int height) const;
    std::optional<Image> grabShared(int x, int y, int width, int height, std::uint32_t segment,
                                    std::uint8_t* data);
    std::optional<Image> grabCore(int x, int y, int width, int height);

    XcbConnection& connection_;
    Method method_ = Method::coreGetImage;
    std::uint32_t segment_ = 0;
    int segmentID_ = -1;
    std::uint8_t* segmentData_ = nullptr;
    std::size_t segmentSize_ = 0;
    std::vector<std::uint8_t> coreImage_;
    int rootWidth_ = 0;
    int rootHeight_ = 0;
};

}  // namespace quillbridge
