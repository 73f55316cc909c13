#pragma once

#include <cstdint>
#include <tuple>

#include "core/Json.hpp"

namespace quillbridge {

// Control message `displayGeometry`: the size of the shared display in points.
struct DisplayGeometryMessage {
    std::int64_t pointWidth = 0;
    std::int64_t pointHeight = 0;
};

template <>
struct JsonFields<DisplayGeometryMessage> {
    static auto fields() {
        return std::tuple{jsonField("pointWidth", &DisplayGeometryMessage::pointWidth),
                          jsonField("pointHeight", &DisplayGeometryMessage::pointHeight)};
    }
};

}  // namespace quillbridge
