#include "core/Date.hpp"

namespace quillbridge {

Date Date::now() {
    return fromSystemTime(std::chrono::system_clock::now());
}

Date Date::fromSystemTime(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    return fromUnixSeconds(duration<double>(time.time_since_epoch()).count());
}

std::chrono::system_clock::time_point Date::systemTime() const {
    using namespace std::chrono;
    return system_clock::time_point(duration_cast<system_clock::duration>(duration<double>(unixSeconds())));
}

}  // namespace quillbridge
