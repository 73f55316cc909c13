#pragma once

#include "session/ServiceDiscoveryError.hpp"

namespace quillbridge {

// An Avahi error code (AVAHI_ERR_*) as the discovery ports report it: the code and Avahi's own text.
ServiceDiscoveryError makeAvahiError(int avahiErrorCode);

}  // namespace quillbridge
