#pragma once

#include <array>
#include <optional>
#include <set>

namespace quillbridge {

// Decides, one permission at a time, which mandatory permission the setup flow asks for next and what each
// permission's row shows. The granted set is always the caller's: the sequence remembers only what it has
// asked for and which request runs. Each permission is asked for at most once; one that stays refused blocks
// the ones behind it until the user grants it elsewhere.
struct MandatoryPermissionSequence {
    // In request order, which is also the order of the rows.
    enum class Permission { screenCapture, accessibility, localNetwork };
    enum class RowState { upcoming, requesting, needsSettings, granted };

    static constexpr std::array<Permission, 3> allPermissions{
        Permission::screenCapture, Permission::accessibility, Permission::localNetwork};

    // The permission to ask for now, recorded as requested and in progress; nothing while a request runs,
    // when everything is granted, or when the first missing permission was already asked for.
    std::optional<Permission> nextPermissionToRequest(const std::set<Permission>& granted);

    // What the permission's row shows. `localNetworkIssue`: whether the recorder reports Local Network
    // access as refused (its answer comes later than the request's end).
    RowState rowState(Permission permission, const std::set<Permission>& granted,
                      bool localNetworkIssue) const;

    bool operator==(const MandatoryPermissionSequence&) const = default;

    std::set<Permission> requested;
    std::optional<Permission> requestInProgress;
};

}  // namespace quillbridge
