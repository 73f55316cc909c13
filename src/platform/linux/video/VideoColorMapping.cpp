#include "platform/linux/video/VideoColorMapping.hpp"

#include <utility>

#include "session/VideoColorAttachmentKeys.hpp"

namespace quillbridge {
namespace {

// Each table maps a name both ways; a value listed twice is read as its first name.
constexpr std::pair<std::string_view, AVColorPrimaries> primariesTable[] = {
    {videoColorPrimaries::itu709, AVCOL_PRI_BT709},     {videoColorPrimaries::ebu3213, AVCOL_PRI_BT470BG},
    {videoColorPrimaries::smpteC, AVCOL_PRI_SMPTE170M}, {videoColorPrimaries::p3D65, AVCOL_PRI_SMPTE432},
    {videoColorPrimaries::dciP3, AVCOL_PRI_SMPTE431},   {videoColorPrimaries::itu2020, AVCOL_PRI_BT2020},
};

constexpr std::pair<std::string_view, AVColorTransferCharacteristic> transferTable[] = {
    {videoTransferFunction::itu709, AVCOL_TRC_BT709},
    {videoTransferFunction::smpte240M, AVCOL_TRC_SMPTE240M},
    {videoTransferFunction::sRGB, AVCOL_TRC_IEC61966_2_1},
    {videoTransferFunction::linear, AVCOL_TRC_LINEAR},
    {videoTransferFunction::itu2020, AVCOL_TRC_BT2020_10},
    {videoTransferFunction::itu2020, AVCOL_TRC_BT2020_12},
    {videoTransferFunction::pq, AVCOL_TRC_SMPTE2084},
    {videoTransferFunction::hlg, AVCOL_TRC_ARIB_STD_B67},
};

constexpr std::pair<std::string_view, AVColorSpace> matrixTable[] = {
    {videoYCbCrMatrix::itu709, AVCOL_SPC_BT709},       {videoYCbCrMatrix::itu601, AVCOL_SPC_SMPTE170M},
    {videoYCbCrMatrix::itu601, AVCOL_SPC_BT470BG},     {videoYCbCrMatrix::smpte240M, AVCOL_SPC_SMPTE240M},
    {videoYCbCrMatrix::itu2020, AVCOL_SPC_BT2020_NCL},
};

template <class Value, std::size_t size>
std::optional<Value> valueOf(const std::pair<std::string_view, Value> (&table)[size], std::string_view name) {
    for (const auto& [entryName, value] : table) {
        if (entryName == name)
            return value;
    }
    return std::nullopt;
}

template <class Value, std::size_t size>
std::optional<std::string> nameOf(const std::pair<std::string_view, Value> (&table)[size], Value value) {
    for (const auto& [name, entryValue] : table) {
        if (entryValue == value)
            return std::string(name);
    }
    return std::nullopt;
}

}  // namespace

std::optional<AVColorPrimaries> VideoColorMapping::primaries(std::string_view name) {
    return valueOf(primariesTable, name);
}
std::optional<AVColorTransferCharacteristic> VideoColorMapping::transfer(std::string_view name) {
    return valueOf(transferTable, name);
}
std::optional<AVColorSpace> VideoColorMapping::matrix(std::string_view name) {
    return valueOf(matrixTable, name);
}

std::optional<std::string> VideoColorMapping::primariesName(AVColorPrimaries value) {
    return nameOf(primariesTable, value);
}
std::optional<std::string> VideoColorMapping::transferName(AVColorTransferCharacteristic value) {
    return nameOf(transferTable, value);
}
std::optional<std::string> VideoColorMapping::matrixName(AVColorSpace value) {
    return nameOf(matrixTable, value);
}

}  // namespace quillbridge
