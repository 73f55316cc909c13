#include "app/MandatoryPermissionSequence.hpp"

namespace quillbridge {
namespace {

using Permission = MandatoryPermissionSequence::Permission;

std::optional<Permission> firstMissing(const std::set<Permission>& granted) {
    for (Permission permission : MandatoryPermissionSequence::allPermissions) {
        if (!granted.contains(permission)) {
            return permission;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<Permission> MandatoryPermissionSequence::nextPermissionToRequest(
    const std::set<Permission>& granted) {
    if (requestInProgress) {
        return std::nullopt;
    }
    const auto next = firstMissing(granted);
    // A permission asked for once and still missing blocks the ones behind it.
    if (!next || requested.contains(*next)) {
        return std::nullopt;
    }
    requested.insert(*next);
    requestInProgress = next;
    return next;
}

MandatoryPermissionSequence::RowState MandatoryPermissionSequence::rowState(
    Permission permission, const std::set<Permission>& granted, bool localNetworkIssue) const {
    if (granted.contains(permission)) {
        return RowState::granted;
    }
    if (firstMissing(granted) != permission || !requested.contains(permission)) {
        return RowState::upcoming;
    }
    if (requestInProgress == permission) {
        return RowState::requesting;
    }
    // Local Network's answer arrives through the session's probe after the request has ended.
    if (permission == Permission::localNetwork && !localNetworkIssue) {
        return RowState::requesting;
    }
    return RowState::needsSettings;
}

}  // namespace quillbridge
