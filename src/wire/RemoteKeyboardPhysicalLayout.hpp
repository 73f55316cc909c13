#pragma once

#include <array>
#include <string_view>

#include "core/Json.hpp"
#include "wire/RawValueEnumeration.hpp"

namespace quillbridge {

// Physical layout class of a keyboard type.
enum class RemoteKeyboardPhysicalLayout {
    ansi,
    iso,
    jis,
    unknown,
};

template <>
struct JsonEnumCases<RemoteKeyboardPhysicalLayout> {
    using enum RemoteKeyboardPhysicalLayout;
    static constexpr std::array cases{
        rawCase(ansi, "ansi"),
        rawCase(iso, "iso"),
        rawCase(jis, "jis"),
        rawCase(unknown, "unknown"),
    };
};
static_assert(isWellFormedRawValueTable<RemoteKeyboardPhysicalLayout>());

}  // namespace quillbridge
