#include "session/HostFormFactor.hpp"

#include <algorithm>

namespace quillbridge {

namespace {

bool isInternalBattery(const PowerSourceDescription& source) {
    return source.type == "Battery" && source.scope != "Device";
}

}  // namespace

std::string_view hostFormFactorText(HostFormFactor formFactor) {
    return formFactor == HostFormFactor::laptop ? "laptop" : "desktop";
}

HostFormFactor hostFormFactor(const PowerSourceReader& reader) {
    auto sources = reader.powerSources();
    if (sources && std::ranges::any_of(*sources, isInternalBattery))
        return HostFormFactor::laptop;
    return HostFormFactor::desktop;
}

HostFormFactor cachedHostFormFactor(const PowerSourceReader& reader) {
    static const HostFormFactor formFactor = hostFormFactor(reader);
    return formFactor;
}

}  // namespace quillbridge
