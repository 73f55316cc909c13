#include "platform/linux/avahi/AvahiError.hpp"

#include <avahi-common/error.h>

namespace quillbridge {

ServiceDiscoveryError makeAvahiError(int avahiErrorCode) {
    return {ServiceDiscoveryError::Domain::dns, avahiErrorCode, avahi_strerror(avahiErrorCode)};
}

}  // namespace quillbridge
