#include "core/FileDescriptor.hpp"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace quillbridge {

FileDescriptor::~FileDescriptor() {
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

int FileDescriptor::release() {
    return std::exchange(descriptor_, -1);
}

int FileDescriptor::close() {
    const int result = ::close(release());
    return result == 0 ? 0 : errno;
}

}  // namespace quillbridge
