#include "input/BoundedFileReader.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quillbridge {

std::optional<Bytes> BoundedFileReader::readAtMost(int descriptor, std::size_t limit) {
    constexpr std::size_t chunk = 1 << 20;
    const std::size_t capacity = limit + 1;
    Bytes contents;
    while (contents.size() < capacity) {
        std::size_t used = contents.size();
        std::size_t want = std::min(chunk, capacity - used);
        contents.resize(used + want);
        ssize_t count = ::read(descriptor, contents.data() + used, want);
        if (count < 0) {
            contents.resize(used);
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        contents.resize(used + static_cast<std::size_t>(count));
        if (count == 0)
            break;
    }
    return contents;
}

}  // namespace quillbridge
