#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/Uuid.hpp"

namespace quillbridge {

// What the display identification (EDID) block of a monitor tells the display provider.
namespace randrEdid {

// The monitor's name from its name descriptor (tag 0xFC), trimmed; empty when the EDID has none or is not a
// valid EDID base block.
std::string monitorName(std::span<const std::uint8_t> edid);

// A name-based (version 5, SHA-1) UUID in the display namespace of this program: the same bytes always give
// the same UUID, across runs and machines.
Uuid nameBasedUuid(std::span<const std::uint8_t> name);

// The display's persistent UUID: from its EDID base block when it has one (so the same monitor keeps its
// identity on any connector), else from the connector's name.
Uuid displayUuid(std::span<const std::uint8_t> edid, std::string_view connectorName);

}  // namespace randrEdid

}  // namespace quillbridge
