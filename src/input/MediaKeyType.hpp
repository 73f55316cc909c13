#pragma once

#include <cstdint>

namespace quillbridge {

// Key types of the system-defined media keys, plus two of the host's own for launcher keys that have no
// media-key number.
namespace MediaKeyType {
inline constexpr std::int32_t soundUp = 0;
inline constexpr std::int32_t soundDown = 1;
inline constexpr std::int32_t brightnessUp = 2;
inline constexpr std::int32_t brightnessDown = 3;
inline constexpr std::int32_t mute = 7;
inline constexpr std::int32_t launchPanel = 13;
inline constexpr std::int32_t play = 16;
inline constexpr std::int32_t next = 17;
inline constexpr std::int32_t previous = 18;
// The window overview key.
inline constexpr std::int32_t missionControl = 0x100;
// The desktop's search or launcher key.
inline constexpr std::int32_t search = 0x101;
}  // namespace MediaKeyType

}  // namespace quillbridge
