#include "app/HostAboutDetails.hpp"

#include "app/BuildInfo.hpp"

namespace quillbridge {
namespace {

HostAboutDetails::Link licenceOf(std::string label, const std::string& package) {
    return HostAboutDetails::Link{std::move(label), "file:///usr/share/doc/" + package + "/copyright"};
}

}  // namespace

std::string HostAboutDetails::versionText(const std::optional<std::string>& shortVersion,
                                          const std::optional<std::string>& build) {
    return shortVersion.value_or("Unknown") + " (" + build.value_or("0") + ")";
}

std::string HostAboutDetails::currentVersionText() {
    return versionText(BuildInfo::shortVersion(), BuildInfo::buildNumber());
}

std::vector<HostAboutDetails::Link> HostAboutDetails::productLinks() {
    std::vector<Link> links;
    if (auto support = BuildInfo::supportURL()) {
        links.push_back(Link{"Support", *support});
    }
    if (auto privacy = BuildInfo::privacyPolicyURL()) {
        links.push_back(Link{"Privacy Policy", *privacy});
    }
    return links;
}

std::vector<HostAboutDetails::Link> HostAboutDetails::acknowledgements() {
    return {
        licenceOf("Qt 6 (LGPL-3.0)", "libqt6core6"),
        licenceOf("FFmpeg libavcodec (LGPL-2.1+, GPL-2.0+ as built with x264 and x265)", "libavcodec59"),
        licenceOf("x264 (GPL-2.0+)", "libx264-164"),
        licenceOf("x265 (GPL-2.0+)", "libx265-199"),
        licenceOf("fdk-aac (Fraunhofer FDK AAC License)", "libfdk-aac2"),
        licenceOf("ngtcp2 (MIT License)", "libngtcp2-9"),
        licenceOf("GnuTLS (LGPL-2.1+)", "libgnutls30"),
        licenceOf("libsodium (ISC License)", "libsodium23"),
        licenceOf("Avahi (LGPL-2.1+)", "libavahi-client3"),
        licenceOf("PipeWire (MIT License)", "libpipewire-0.3-0"),
        licenceOf("libyuv (BSD 3-Clause License)", "libyuv0"),
        licenceOf("nlohmann-json (MIT License)", "nlohmann-json3-dev"),
        licenceOf("libplist (LGPL-2.1+)", "libplist3"),
        licenceOf("xkbcommon (MIT License)", "libxkbcommon0"),
    };
}

}  // namespace quillbridge
