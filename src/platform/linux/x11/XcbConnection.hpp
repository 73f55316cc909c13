#pragma once

#include <memory>
#include <optional>
#include <string>

#include <xcb/xcb.h>

namespace quillbridge {

// One connection to an X server, closed when the object goes. Not thread-safe beyond what xcb itself is
// (xcb requests may be issued from several threads; events are read by one owner).
class XcbConnection {
public:
    // Connects to the display named (":1"), or to $DISPLAY when the name is empty. Nothing when the server
    // cannot be reached.
    static std::unique_ptr<XcbConnection> open(const std::string& displayName = {});

    ~XcbConnection();
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    xcb_connection_t* get() const { return connection_; }
    xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_->root; }
    int screenNumber() const { return screenNumber_; }
    // The server closed the connection or an I/O error broke it.
    bool hasError() const { return xcb_connection_has_error(connection_) != 0; }
    // Whether the server offers the extension (by its protocol name, "XTEST", "MIT-SHM", ...).
    bool hasExtension(const char* name) const;

private:
    XcbConnection(xcb_connection_t* connection, xcb_screen_t* screen, int screenNumber)
        : connection_(connection), screen_(screen), screenNumber_(screenNumber) {}

    xcb_connection_t* connection_;
    xcb_screen_t* screen_;
    int screenNumber_;
};

// Frees a reply or an error that xcb allocated with malloc.
struct XcbFree {
    void operator()(void* pointer) const;
};
template <class T>
using XcbReply = std::unique_ptr<T, XcbFree>;

}  // namespace quillbridge
