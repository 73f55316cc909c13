#pragma once

#include <string_view>

#include "session/PowerSourceReader.hpp"

namespace quillbridge {

// Whether the host is a portable or a stationary computer, as advertised in the "mac_form" TXT key.
enum class HostFormFactor { laptop, desktop };

// "laptop" or "desktop".
std::string_view hostFormFactorText(HostFormFactor formFactor);

// A laptop has an internal battery among its power sources; anything else, no power-source information
// included, is a desktop.
HostFormFactor hostFormFactor(const PowerSourceReader& reader);

// The form factor of this host: worked out from `reader` on the first call in the process, the same
// value on every later call (whatever reader those pass).
HostFormFactor cachedHostFormFactor(const PowerSourceReader& reader);

}  // namespace quillbridge
