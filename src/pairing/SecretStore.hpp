#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string_view>

#include "core/Bytes.hpp"
#include "core/SecretBytes.hpp"

namespace quillbridge {

// Why a secret could not be read or written. The numeric value is what logs show as the status.
enum class SecretStoreError : int {
    // The item may exist, but reaching it would need the user (a locked collection, a prompt).
    interactionRequired = 1,
    // The backend did not answer or refused the call.
    unavailable = 2,
    // Reading or writing the backing storage failed.
    ioFailure = 3,
    // An item exists but cannot be used (wrong kind of file, unsafe ownership, too large).
    invalidItem = 4,
};

inline int secretStoreStatus(SecretStoreError error) {
    return static_cast<int>(error);
}

// A protected store of small secrets, each named by a service and an account
// ("Quillbridge.tls-identity" / "local.<UUID>-v2", "Quillbridge.signing-private-key" / "mac.signing-key").
// It never shows a user interface: whatever would need the user fails with interactionRequired.
class SecretStore {
public:
    // The largest secret any caller stores is a JSON identity of a few kilobytes.
    static constexpr std::size_t maximumSecretByteCount = 1 << 20;

    // Found: the bytes, wiped when the caller drops them. Not found: nothing (only when the store is sure the
    // item does not exist). Anything else: an error.
    using ReadResult = std::expected<std::optional<SecretBytes>, SecretStoreError>;
    using WriteResult = std::expected<void, SecretStoreError>;

    virtual ~SecretStore() = default;

    virtual ReadResult read(std::string_view service, std::string_view account) = 0;
    // Adds the item, or replaces the value of the existing one.
    virtual WriteResult write(std::string_view service, std::string_view account, ByteView secret) = 0;
};

}  // namespace quillbridge
