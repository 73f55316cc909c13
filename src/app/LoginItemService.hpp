#pragma once

#include <expected>
#include <string>

namespace quillbridge {

// Whether the program opens when the user logs in.
class LoginItemService {
public:
    enum class Status { notRegistered, enabled, requiresApproval, notFound };

    virtual ~LoginItemService() = default;

    virtual Status status() const = 0;
    // On failure, a description of what went wrong, for the user.
    virtual std::expected<void, std::string> registerItem() = 0;
    virtual std::expected<void, std::string> unregisterItem() = 0;
};

}  // namespace quillbridge
