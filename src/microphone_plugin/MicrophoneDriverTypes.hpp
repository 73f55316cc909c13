#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "virtual_devices/MicrophoneDeviceIdentifiers.hpp"

// The vocabulary of the driver interface through which the audio server side of this program (the PipeWire
// adapter and the property channel) drives the virtual microphone: addresses, interface identifiers, time
// stamps, IO cycles and what the server offers the driver.
namespace quillbridge {

using MicrophoneStatus = microphone::Status;
using MicrophoneObjectID = microphone::ObjectID;

struct MicrophonePropertyAddress {
    microphone::PropertySelector selector = 0;
    microphone::PropertyScope scope = microphone::scope::global;
    microphone::PropertyElement element = microphone::mainElement;

    bool operator==(const MicrophonePropertyAddress&) const = default;
};
static_assert(sizeof(MicrophonePropertyAddress) == 12);

// A 16-byte interface or type identifier, most significant byte first.
struct MicrophoneUUIDBytes {
    std::array<std::uint8_t, 16> bytes{};

    bool operator==(const MicrophoneUUIDBytes&) const = default;
};
static_assert(sizeof(MicrophoneUUIDBytes) == 16);

namespace microphone_uuid {
// The type the factory creates: an audio server plug-in (443ABAB8-E7B3-491A-B985-BEB9187030DB).
inline constexpr MicrophoneUUIDBytes plugInType{
    {0x44, 0x3A, 0xBA, 0xB8, 0xE7, 0xB3, 0x49, 0x1A, 0xB9, 0x85, 0xBE, 0xB9, 0x18, 0x70, 0x30, 0xDB}};
// The base interface (00000000-0000-0000-C000-000000000046).
inline constexpr MicrophoneUUIDBytes unknownInterface{{0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// The driver interface (EEA5773D-CC43-49F1-8E00-8F96E7D23B17).
inline constexpr MicrophoneUUIDBytes driverInterface{
    {0xEE, 0xA5, 0x77, 0x3D, 0xCC, 0x43, 0x49, 0xF1, 0x8E, 0x00, 0x8F, 0x96, 0xE7, 0xD2, 0x3B, 0x17}};
}  // namespace microphone_uuid

// An audio time stamp; only the fields whose flag is set are meaningful.
struct MicrophoneTimeStamp {
    static constexpr std::uint32_t sampleTimeValid = 1u << 0;
    static constexpr std::uint32_t hostTimeValid = 1u << 1;

    double sampleTime = 0;
    // Host clock ticks (CLOCK_MONOTONIC nanoseconds on Linux).
    std::uint64_t hostTime = 0;
    double rateScalar = 1;
    std::uint32_t flags = 0;

    bool hasValidHostTime() const { return (flags & hostTimeValid) != 0; }
};

// What the server tells the driver about one IO cycle.
struct MicrophoneIOCycleInfo {
    std::uint64_t cycleCounter = 0;
    std::uint32_t nominalBufferFrameSize = 0;
    MicrophoneTimeStamp currentTime;
    MicrophoneTimeStamp inputTime;
    // When the first frame of this cycle's buffer plays.
    MicrophoneTimeStamp outputTime;
};

// A client of the device, as the server registers it.
struct MicrophoneClientInfo {
    std::uint32_t clientID = 0;
    std::int32_t processID = 0;
};

namespace microphone_io {
inline constexpr std::uint32_t readInput = microphone::fourCharCode("read");
inline constexpr std::uint32_t writeMix = microphone::fourCharCode("rite");
inline constexpr std::uint32_t cycle = microphone::fourCharCode("cycl");
}  // namespace microphone_io

// What the audio server offers the driver, given to Initialize.
class MicrophoneDriverHost {
public:
    virtual ~MicrophoneDriverHost() = default;

    // Tells the server (and through it every client) that these properties of the object changed.
    virtual MicrophoneStatus propertiesChanged(MicrophoneObjectID objectID,
                                               std::span<const MicrophonePropertyAddress> addresses) = 0;
    // The text stored under the key, if a text is stored there.
    virtual std::optional<std::string> copyFromStorage(std::string_view key) = 0;
};

}  // namespace quillbridge
