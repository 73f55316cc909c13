#pragma once

#include <cstdint>

#include "virtual_devices/MicrophoneDeviceIdentifiers.hpp"

// The fixed binary structures that properties answer with, laid out exactly as the server reads them.
namespace quillbridge {

// One custom property the object offers: its selector and the types of its value and qualifier.
struct MicrophoneCustomPropertyInfo {
    std::uint32_t selector = 0;
    std::uint32_t propertyDataType = 0;
    std::uint32_t qualifierDataType = 0;
};
static_assert(sizeof(MicrophoneCustomPropertyInfo) == 12);

inline constexpr std::uint32_t microphoneCustomTypeString = microphone::fourCharCode("cfst");
inline constexpr std::uint32_t microphoneCustomTypePropertyList = microphone::fourCharCode("plst");

struct MicrophoneValueRange {
    double minimum = 0;
    double maximum = 0;
};
static_assert(sizeof(MicrophoneValueRange) == 16);

struct MicrophoneStreamBasicDescription {
    static constexpr std::uint32_t linearPCM = microphone::fourCharCode("lpcm");
    static constexpr std::uint32_t flagIsFloat = 1u << 0;
    static constexpr std::uint32_t flagIsPacked = 1u << 3;

    double sampleRate = 0;
    std::uint32_t formatID = 0;
    std::uint32_t formatFlags = 0;
    std::uint32_t bytesPerPacket = 0;
    std::uint32_t framesPerPacket = 0;
    std::uint32_t bytesPerFrame = 0;
    std::uint32_t channelsPerFrame = 0;
    std::uint32_t bitsPerChannel = 0;
    std::uint32_t reserved = 0;
};
static_assert(sizeof(MicrophoneStreamBasicDescription) == 40);

struct MicrophoneStreamRangedDescription {
    MicrophoneStreamBasicDescription format;
    MicrophoneValueRange sampleRateRange;
};
static_assert(sizeof(MicrophoneStreamRangedDescription) == 56);

struct MicrophoneChannelDescription {
    static constexpr std::uint32_t labelMono = 42;

    std::uint32_t label = 0;
    std::uint32_t flags = 0;
    float coordinates[3] = {0, 0, 0};
};
static_assert(sizeof(MicrophoneChannelDescription) == 20);

// A channel layout with its one channel description.
struct MicrophoneChannelLayout {
    static constexpr std::uint32_t tagUseChannelDescriptions = 0;

    std::uint32_t layoutTag = 0;
    std::uint32_t channelBitmap = 0;
    std::uint32_t numberChannelDescriptions = 0;
    MicrophoneChannelDescription descriptions[1];
};
static_assert(sizeof(MicrophoneChannelLayout) == 32);

// The one format of the input stream: 48 kHz mono packed 32-bit float.
constexpr MicrophoneStreamBasicDescription microphoneStreamFormat() {
    MicrophoneStreamBasicDescription format;
    format.sampleRate = microphone::sampleRate;
    format.formatID = MicrophoneStreamBasicDescription::linearPCM;
    format.formatFlags =
        MicrophoneStreamBasicDescription::flagIsFloat | MicrophoneStreamBasicDescription::flagIsPacked;
    format.bytesPerPacket = 4;
    format.framesPerPacket = 1;
    format.bytesPerFrame = 4;
    format.channelsPerFrame = microphone::channelCount;
    format.bitsPerChannel = 32;
    return format;
}

}  // namespace quillbridge
