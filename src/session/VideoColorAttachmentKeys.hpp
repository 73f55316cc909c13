#pragma once

#include <string_view>

namespace quillbridge {

// The colour keys and values that captured frames carry and that the headset knows from the format message.
// Keys of a frame's format-description extensions and of its image buffer's attachments are the same
// strings for the fields both have.
namespace videoColorKey {
inline constexpr std::string_view colorPrimaries = "CVImageBufferColorPrimaries";
inline constexpr std::string_view transferFunction = "CVImageBufferTransferFunction";
inline constexpr std::string_view yCbCrMatrix = "CVImageBufferYCbCrMatrix";
inline constexpr std::string_view fullRangeVideo = "FullRangeVideo";
inline constexpr std::string_view contentLightLevelInfo = "ContentLightLevelInfo";
inline constexpr std::string_view masteringDisplayColorVolume = "MasteringDisplayColorVolume";
inline constexpr std::string_view contentColorVolume = "ContentColorVolume";
inline constexpr std::string_view alternativeTransferCharacteristics =
    "CVImageBufferAlternateTransferFunction";
inline constexpr std::string_view ambientViewingEnvironment = "AmbientViewingEnvironment";
inline constexpr std::string_view iccProfile = "CVImageBufferICCProfile";
inline constexpr std::string_view gammaLevel = "CVImageBufferGammaLevel";
}  // namespace videoColorKey

namespace videoColorPrimaries {
inline constexpr std::string_view itu709 = "ITU_R_709_2";
inline constexpr std::string_view ebu3213 = "EBU_3213";
inline constexpr std::string_view smpteC = "SMPTE_C";
inline constexpr std::string_view p3D65 = "P3_D65";
inline constexpr std::string_view dciP3 = "DCI_P3";
inline constexpr std::string_view itu2020 = "ITU_R_2020";
}  // namespace videoColorPrimaries

namespace videoTransferFunction {
inline constexpr std::string_view itu709 = "ITU_R_709_2";
inline constexpr std::string_view smpte240M = "SMPTE_240M_1995";
inline constexpr std::string_view sRGB = "IEC_sRGB";
inline constexpr std::string_view linear = "Linear";
inline constexpr std::string_view itu2020 = "ITU_R_2020";
inline constexpr std::string_view pq = "SMPTE_ST_2084_PQ";
inline constexpr std::string_view hlg = "ITU_R_2100_HLG";
}  // namespace videoTransferFunction

namespace videoYCbCrMatrix {
inline constexpr std::string_view itu709 = "ITU_R_709_2";
inline constexpr std::string_view itu601 = "ITU_R_601_4";
inline constexpr std::string_view smpte240M = "SMPTE_240M_1995";
inline constexpr std::string_view itu2020 = "ITU_R_2020";
}  // namespace videoYCbCrMatrix

}  // namespace quillbridge
