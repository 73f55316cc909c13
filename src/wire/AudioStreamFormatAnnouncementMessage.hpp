#pragma once

#include <cstdint>
#include <tuple>

#include "core/Json.hpp"
#include "wire/AudioStreamFormatMessage.hpp"

namespace quillbridge {

// Control message `audioFormat`: the host's audio format with its number within the session. Every audio
// datagram carries the revision of the format its payload is encoded in.
struct AudioStreamFormatAnnouncementMessage {
    std::uint32_t revision = 0;
    AudioStreamFormatMessage format;
};

template <>
struct JsonFields<AudioStreamFormatAnnouncementMessage> {
    static auto fields() {
        return std::tuple{jsonField("revision", &AudioStreamFormatAnnouncementMessage::revision),
                          jsonField("format", &AudioStreamFormatAnnouncementMessage::format)};
    }
};

}  // namespace quillbridge
