#include "input/SyntheticInputPermission.hpp"

#include "core/Logger.hpp"

namespace quillbridge {

bool passSyntheticInputGate(SyntheticInputPermission& permission, const Logger& logger) {
    if (permission.isSyntheticInputAllowed())
        return true;
    permission.requestSyntheticInputAccess();
    if (permission.isSyntheticInputAllowed())
        return true;
    logger.error("Synthetic input permission was denied");
    return false;
}

}  // namespace quillbridge
