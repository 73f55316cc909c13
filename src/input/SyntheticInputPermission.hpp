#pragma once

#include "core/Logger.hpp"

namespace quillbridge {

// Whether this process may post synthetic input to the desktop. Checked before every mouse, keyboard and
// text event; media keys have no such check.
class SyntheticInputPermission {
public:
    virtual ~SyntheticInputPermission() = default;

    // Whether synthetic input is allowed right now.
    virtual bool isSyntheticInputAllowed() = 0;
    // Asks the system once for the permission; the answer is read again with isSyntheticInputAllowed().
    virtual void requestSyntheticInputAccess() = 0;
};

// The gate in front of every synthetic mouse, keyboard and text event: asks again after one request, and
// logs "Synthetic input permission was denied" through the caller's logger when it is still refused.
bool passSyntheticInputGate(SyntheticInputPermission& permission, const Logger& logger);

}  // namespace quillbridge
