#pragma once

#include <string>

#include "core/Bytes.hpp"
#include "pairing/SecretStore.hpp"

namespace quillbridge {

// "found <hex>", "not found" or "error <status>": a secret-store read as text, for readable comparisons.
inline std::string outcome(const SecretStore::ReadResult& result) {
    if (!result)
        return "error " + std::to_string(secretStoreStatus(result.error()));
    if (!*result)
        return "not found";
    return "found " + toHex(**result);
}

}  // namespace quillbridge
