#include "wire/MediaTime.hpp"

#include <limits>

namespace quillbridge {

std::uint64_t MediaTime::nonNegativeNanoseconds() const {
    if (!isNumeric() || value <= 0)
        return 0;
    // value < 2^63 and the factor < 2^30: the product fits in 128 bits.
    unsigned __int128 nanoseconds = static_cast<unsigned __int128>(value) * nanosecondsPerSecond /
                                    static_cast<unsigned __int128>(timescale);
    if (nanoseconds > std::numeric_limits<std::uint64_t>::max())
        return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(nanoseconds);
}

}  // namespace quillbridge
