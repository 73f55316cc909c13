#pragma once

#include <tuple>

#include "core/Json.hpp"
#include "wire/CaptureResolutionOption.hpp"
#include "wire/StreamCodec.hpp"
#include "wire/StreamFrameRateOption.hpp"

namespace quillbridge {

// Control message `streamConfiguration`: the stream settings the headset chooses. Only `resolution` and
// `videoCodec` are required; the others read their defaults when missing or null. `mutesHostAudio`
// defaults to true, so a peer that leaves it out gets the host's output muted. Always written whole.
struct StreamConfigurationMessage {
    CaptureResolutionOption resolution = CaptureResolutionOption::full;
    StreamCodec videoCodec = StreamCodec::h264;
    bool isHDREnabled = false;
    StreamFrameRateOption frameRate = StreamFrameRateOption::fps60;
    // With HDR on, capture with the canonical-display HDR preset instead of the local-display one.
    bool usesCanonicalHDR = false;
    bool mutesHostAudio = true;
};

template <>
struct JsonFields<StreamConfigurationMessage> {
    static auto fields() {
        return std::tuple{
            jsonField("resolution", &StreamConfigurationMessage::resolution),
            jsonField("videoCodec", &StreamConfigurationMessage::videoCodec),
            jsonField("isHDREnabled", &StreamConfigurationMessage::isHDREnabled, false),
            jsonField("frameRate", &StreamConfigurationMessage::frameRate, StreamFrameRateOption::fps60),
            jsonField("usesCanonicalHDR", &StreamConfigurationMessage::usesCanonicalHDR, false),
            jsonField("mutesHostAudio", &StreamConfigurationMessage::mutesHostAudio, true),
        };
    }
};

}  // namespace quillbridge
